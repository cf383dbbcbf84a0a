#pragma once

#include "platform/files/StringEncoding.h"

namespace lumora {

// A node of a library's file tree.
class File {
public:
    // The encoding documents are written in when they remember none: the
    // "saveEncoding" preference, read on every call. UTF-8 when it is
    // absent, automatic (-1), or not an exact non-negative whole number.
    static StringEncoding saveEncoding();
};

} // namespace lumora
