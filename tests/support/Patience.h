#pragma once

namespace lumora::test {

// How long, in milliseconds, a test waits for what it expects to happen: a
// file to change, a page to load, a child process to answer. Generous
// enough for a build with sanitizers on a machine busy with other work; a
// wait ends as soon as what it waits for holds, so a passing test never
// pays for it. Never wait a fixed time and then check that something
// happened: wait for it, with this patience.
inline constexpr int patience = 120'000;

} // namespace lumora::test
