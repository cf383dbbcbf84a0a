#include "multimarkdown_binding/MultiMarkdown.h"
#include <gtest/gtest.h>
#include <QFile>
#include <cstdio>
using namespace lumora;
TEST(Scratch, Print)
{
    QFile f(qEnvironmentVariable("SCRATCH_INPUT"));
    if (!f.open(QIODevice::ReadOnly)) GTEST_SKIP();
    const QString text = QString::fromUtf8(f.readAll());
    auto out = MultiMarkdown::convert(text, MultiMarkdown::Extensions(0x2218), MultiMarkdown::OutputFormat::html, MultiMarkdown::LocalizationLanguage::english);
    printf("%s\n----\n", out ? out->toUtf8().constData() : "(nil)");
}
