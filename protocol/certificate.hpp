#pragma once

#include "protocol/bytes.hpp"

#include <string>
#include <string_view>

namespace protocol {

// Turns an imported certificate or key file into the PEM text sent for one-way TLS.
// The bytes are read as UTF-8, else as ISO 8859-1 (ASCII is a subset of UTF-8, so "else ASCII"
// never applies on its own). Text that already says "BEGIN" is returned as it is; anything else
// (DER) is wrapped: Base64 of the raw bytes, 64 characters a line, labelled "PRIVATE KEY" for a
// .key file and "CERTIFICATE" otherwise. `extension` is the file name's extension without dot.
std::string normalizeCertificateFile(const Bytes& bytes, std::string_view extension);

// Standard Base64 with padding, a line feed after every `lineLength` characters (none at the end).
std::string base64Lines(const Bytes& bytes, std::size_t lineLength);

bool isValidUtf8(std::string_view text);

// Removes white space and line breaks from both ends.
std::string_view trimWhitespace(std::string_view text);

} // namespace protocol
