#pragma once
// The two code pages voucher printing meets: UTF-8, the project's own, and GB18030, the
// Chinese code page of counter files carried over from the original platform and of the
// text that Chinese dot-matrix printers expect.

#include <string>
#include <string_view>

bool IsValidUtf8(std::string_view bytes);
// GB18030 bytes as UTF-8; a byte sequence that is not GB18030 becomes U+FFFD.
std::string Gb18030ToUtf8(std::string_view bytes);
// A text file's bytes as UTF-8: taken as they are when they are valid UTF-8 (a byte order
// mark dropped), else read as GB18030.
std::string DecodeTextFile(std::string_view bytes);
// The bytes for a printer: every UTF-8 character above ASCII in GB18030; ASCII bytes and
// bytes that are no UTF-8 character (control codes) as they are.
std::string ToPrinterBytes(std::string_view text);
