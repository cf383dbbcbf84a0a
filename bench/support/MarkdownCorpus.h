#pragma once

#include <QString>

#include <cstdint>

namespace lumora::bench {

// A deterministic Markdown document of about `bytes` characters: headings,
// paragraphs of several sentences with emphasis, links and footnote
// references, bullet, numbered and nested lists, block quotes, code lines and
// footnote definitions.
QString markdownCorpus(qsizetype bytes, std::uint32_t seed = 1);

// The same document of the default seed, made once per size and kept for
// the life of the program.
const QString& sharedMarkdownCorpus(qsizetype bytes);

// That document written to a file with the given extension ("md", "txt") in
// a temporary folder kept for the life of the program, once per size and
// extension; the path. Ends the program if the file cannot be written.
const QString& markdownCorpusFile(qsizetype bytes, const QString& extension = QStringLiteral("md"));

} // namespace lumora::bench
