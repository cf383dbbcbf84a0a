#pragma once

#include "platform/files/StringEncoding.h"

namespace lumora {

// The encoding documents are written in when they remember none, and the one
// their files are read in first: the "saveEncoding" preference, read on every
// call (the save panel's encoding menu writes it straight into the store).
// UTF-8 when it is absent, automatic (-1), or not an exact non-negative whole
// number.
StringEncoding preferredSaveEncoding();

} // namespace lumora
