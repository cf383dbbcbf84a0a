#pragma once

#include <QtGlobal>

namespace lumora {

// Text encodings are identified by the numbers the preferences store keeps
// under "saveEncoding" (and documents remember). The registry that maps them
// to converters lives with the encoding services.
using StringEncoding = quint64;

namespace Encoding {
inline constexpr StringEncoding ascii = 1;
inline constexpr StringEncoding nextStep = 2;
inline constexpr StringEncoding japaneseEUC = 3;
inline constexpr StringEncoding utf8 = 4;
inline constexpr StringEncoding isoLatin1 = 5;
inline constexpr StringEncoding symbol = 6;
inline constexpr StringEncoding nonLossyASCII = 7;
inline constexpr StringEncoding shiftJIS = 8;
inline constexpr StringEncoding isoLatin2 = 9;
inline constexpr StringEncoding utf16 = 10; // with a byte-order mark
inline constexpr StringEncoding windowsCP1251 = 11;
inline constexpr StringEncoding windowsCP1252 = 12;
inline constexpr StringEncoding windowsCP1253 = 13;
inline constexpr StringEncoding windowsCP1254 = 14;
inline constexpr StringEncoding windowsCP1250 = 15;
inline constexpr StringEncoding iso2022JP = 21;
inline constexpr StringEncoding macOSRoman = 30;
inline constexpr StringEncoding utf16BigEndian = 0x90000100;
inline constexpr StringEncoding utf16LittleEndian = 0x94000100;
inline constexpr StringEncoding utf32 = 0x8c000100;
inline constexpr StringEncoding utf32BigEndian = 0x98000100;
inline constexpr StringEncoding utf32LittleEndian = 0x9c000100;
} // namespace Encoding

} // namespace lumora
