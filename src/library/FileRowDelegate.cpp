#include "library/FileRowDelegate.h"

#include "library/File.h"
#include "library/LibraryOutlineModel.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace lumora {

namespace {

constexpr int kSideInset = 8;
constexpr int kFolderVerticalInset = 4;
constexpr int kDocumentVerticalInset = 6;
constexpr int kNameLineHeight = 20;
constexpr int kNameToSummary = 2;
constexpr int kNameToDate = 8;

QString dateText(const QDateTime& date)
{
    return QLocale::system().toString(date.date(), QLocale::ShortFormat);
}

} // namespace

FileRowDelegate::FileRowDelegate(LibraryOutlineModel& model, QObject* parent)
    : QStyledItemDelegate(parent), m_model(model)
{
}

void FileRowDelegate::setSummaryLines(int lines) { m_summaryLines = std::clamp(lines, 0, 3); }

void FileRowDelegate::setColors(const QColor& text, const QColor& secondary, const QColor& selection,
                                const QColor& accent)
{
    m_text = text;
    m_secondary = secondary;
    m_selection = selection;
    m_accent = accent;
}

QFont FileRowDelegate::nameFont(const QFont& base) const
{
    QFont font = base;
    font.setWeight(QFont::Bold);
    return font;
}

QFont FileRowDelegate::dateFont(const QFont& base) const
{
    QFont font = base;
    font.setPointSizeF(std::max(7.0, base.pointSizeF() - 1.5));
    return font;
}

QRect FileRowDelegate::nameRect(const QRect& row, bool folder, const QFont&) const
{
    if (folder)
        return row.adjusted(kSideInset, kFolderVerticalInset, -kSideInset, -kFolderVerticalInset);
    return QRect(row.left() + kSideInset, row.top() + kDocumentVerticalInset, row.width() - 2 * kSideInset,
                 kNameLineHeight);
}

QSize FileRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // Only the kind of row counts: nothing is read.
    const File* file = m_model.fileAt(index);
    const int height = !file || file->isDirectory() ? folderRowHeight : documentRowHeight(m_summaryLines);
    return QSize(option.rect.width() > 0 ? option.rect.width() : 100, height);
}

QStringList FileRowDelegate::summaryLayout(const QString& summary, const QFont& font, int width, int lines)
{
    QStringList shown;
    if (lines <= 0 || width <= 0) return shown;
    QString text = summary;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    const QStringList paragraphs = text.split(QLatin1Char('\n'));
    // One line more than shown tells whether more follows.
    QStringList wrapped;
    QString rest;
    for (qsizetype p = 0; p < paragraphs.size() && wrapped.size() <= lines; ++p) {
        const QString& paragraph = paragraphs[p];
        if (paragraph.isEmpty()) {
            wrapped << QString();
            continue;
        }
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            if (wrapped.size() == lines) {
                // What the last shown line must make room for.
                rest = paragraph.mid(line.textStart());
                wrapped << rest;
                break;
            }
            wrapped << paragraph.mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
    }
    if (wrapped.size() <= lines) {
        for (QString& line : wrapped) shown << line.trimmed();
        return shown;
    }
    // More follows: the last shown line ends with "…".
    const QFontMetrics metrics(font);
    for (int i = 0; i < lines; ++i) shown << wrapped[i].trimmed();
    QString& last = shown.last();
    const QString more = wrapped[lines].trimmed();
    last = metrics.elidedText(last + QLatin1Char(' ') + (more.isEmpty() ? QStringLiteral("…") : more),
                              Qt::ElideRight, width);
    if (!last.endsWith(QStringLiteral("…"))) last = metrics.elidedText(last + QStringLiteral("…"), Qt::ElideRight, width);
    return shown;
}

void FileRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const File* file = m_model.fileAt(index);
    if (!file) return;
    painter->save();
    const QFont base = option.font;
    const bool folder = file->isDirectory();
    const QRect row = option.rect;

    if (m_dropTarget.isValid() && m_dropTarget == index) {
        painter->setRenderHint(QPainter::Antialiasing);
        QPen pen(m_accent, 2);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(row).adjusted(1.5, 1.5, -1.5, -1.5), 5, 5);
    }

    const QFont name = nameFont(base);
    const QFontMetrics nameMetrics(name);
    QRect nameArea = nameRect(row, folder, base);
    // While its name is edited in place, the field shows the name (and
    // covers the date): the row draws neither beneath it.
    const bool editing = m_editing.isValid() && m_editing == index;
    QString dateString;
    if (!folder && m_showsDates && !editing) {
        if (const auto date = static_cast<const RegularFile*>(file)->date()) dateString = dateText(*date);
    }
    if (!dateString.isEmpty()) {
        const QFont small = dateFont(base);
        const QFontMetrics smallMetrics(small);
        const int width = smallMetrics.horizontalAdvance(dateString);
        if (width + kNameToDate < nameArea.width() / 2) {
            QRect dateArea = nameArea;
            dateArea.setLeft(nameArea.right() - width);
            painter->setFont(small);
            painter->setPen(m_secondary);
            // On the name's baseline.
            const int baseline = nameArea.top() + (nameArea.height() + nameMetrics.ascent() - nameMetrics.descent()) / 2;
            painter->drawText(QPoint(dateArea.left(), baseline), dateString);
            nameArea.setRight(dateArea.left() - kNameToDate);
        }
    }
    if (!editing) {
        painter->setFont(name);
        painter->setPen(m_text);
        painter->drawText(nameArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          nameMetrics.elidedText(file->filename(), Qt::ElideRight, nameArea.width()));
    }

    if (!folder && m_summaryLines > 0) {
        const QString& summary = static_cast<const RegularFile*>(file)->summary();
        const int left = row.left() + kSideInset;
        const int width = row.width() - 2 * kSideInset;
        const QStringList lines = summaryLayout(summary, base, width, m_summaryLines);
        painter->setFont(base);
        painter->setPen(m_secondary);
        const QFontMetrics metrics(base);
        int top = row.top() + kDocumentVerticalInset + kNameLineHeight + kNameToSummary;
        for (const QString& line : lines) {
            painter->drawText(QRect(left, top, width, summaryLineHeight), Qt::AlignLeft | Qt::AlignVCenter, line);
            top += summaryLineHeight;
        }
    }
    painter->restore();
}

QWidget* FileRowDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const
{
    m_editing = index;
    auto* editor = new QLineEdit(parent);
    editor->setFrame(false);
    editor->setFont(nameFont(option.font));
    QPalette palette = editor->palette();
    palette.setColor(QPalette::Text, m_text);
    editor->setPalette(palette);
    return editor;
}

void FileRowDelegate::destroyEditor(QWidget* editor, const QModelIndex& index) const
{
    if (m_editing == index) m_editing = QPersistentModelIndex();
    QStyledItemDelegate::destroyEditor(editor, index);
}

void FileRowDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* field = qobject_cast<QLineEdit*>(editor);
    const File* file = m_model.fileAt(index);
    if (!field || !file) return;
    // The name as it stands, unless the writer is typing a new one.
    if (!field->isModified()) {
        field->setText(file->filename());
        field->selectAll();
    }
}

void FileRowDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    if (auto* field = qobject_cast<QLineEdit*>(editor)) model->setData(index, field->text(), Qt::EditRole);
}

void FileRowDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                           const QModelIndex& index) const
{
    const File* file = m_model.fileAt(index);
    const QRect area = nameRect(option.rect, !file || file->isDirectory(), option.font);
    editor->setGeometry(area.adjusted(-3, -1, 0, 1));
}

} // namespace lumora
