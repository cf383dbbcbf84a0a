#include "document/PrintOperation.h"

#include "document/Document.h"
#include "document/PrintAccessoryViewController.h"
#include "platform/files/NativePath.h"
#include "platform/foundation/Localization.h"
#include "widgets/ViewUtilities.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace lumora {

namespace {

std::optional<QPageLayout>& sessionLayout()
{
    static std::optional<QPageLayout> layout;
    return layout;
}

// The paper sizes offered, besides the one in use.
constexpr QPageSize::PageSizeId kPaperSizes[] = {
    QPageSize::A3, QPageSize::A4, QPageSize::A5, QPageSize::B5,
    QPageSize::Letter, QPageSize::Legal, QPageSize::Executive, QPageSize::Tabloid,
};

// Page Setup: the paper size and the orientation, nothing else (the
// margins are the layout's own).
class PageSetupDialog : public QDialog {
public:
    PageSetupDialog(const QPageLayout& layout, QWidget* parent) : QDialog(parent), m_layout(layout)
    {
        setWindowTitle(localized("print.pageSetup.title"));
        setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);

        m_paper = new QComboBox;
        m_paper->setObjectName(QStringLiteral("paperSize"));
        QList<QPageSize> sizes;
        for (QPageSize::PageSizeId id : kPaperSizes) sizes << QPageSize(id);
        if (!std::any_of(sizes.begin(), sizes.end(), [&](const QPageSize& s) { return s.isEquivalentTo(layout.pageSize()); }))
            sizes.prepend(layout.pageSize());
        for (const QPageSize& size : sizes) {
            m_paper->addItem(size.name(), QVariant::fromValue(size));
            if (size.isEquivalentTo(layout.pageSize())) m_paper->setCurrentIndex(m_paper->count() - 1);
        }

        m_orientation = new QComboBox;
        m_orientation->setObjectName(QStringLiteral("orientation"));
        m_orientation->addItem(localized("print.pageSetup.portrait"), int(QPageLayout::Portrait));
        m_orientation->addItem(localized("print.pageSetup.landscape"), int(QPageLayout::Landscape));
        m_orientation->setCurrentIndex(layout.orientation() == QPageLayout::Landscape ? 1 : 0);

        auto* form = new QFormLayout;
        form->addRow(localized("print.pageSetup.paper"), m_paper);
        form->addRow(localized("print.pageSetup.orientation"), m_orientation);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        buttons->button(QDialogButtonBox::Ok)->setText(localized("dialog.button.ok"));
        buttons->button(QDialogButtonBox::Cancel)->setText(localized("dialog.button.cancel"));
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(20, 20, 20, 16);
        column->setSpacing(16);
        column->addLayout(form);
        column->addWidget(buttons);
    }

    QPageLayout chosenLayout() const
    {
        QPageLayout layout = m_layout;
        layout.setPageSize(m_paper->currentData().value<QPageSize>());
        layout.setOrientation(QPageLayout::Orientation(m_orientation->currentData().toInt()));
        return layout;
    }

private:
    QPageLayout m_layout;
    QComboBox* m_paper = nullptr;
    QComboBox* m_orientation = nullptr;
};

void applyPaper(QPrinter& printer, const QPageLayout& layout)
{
    printer.setPageSize(layout.pageSize());
    printer.setPageOrientation(layout.orientation());
}

// The print dialog offers a PDF file in the home folder; a document's
// pages go beside it by default, under its name. A file already chosen
// for this job stays.
void proposeOutputFile(QPrintDialog& dialog, const QPrinter& printer, const PrintManager& manager)
{
    if (!printer.outputFileName().isEmpty()) return;
    // The dialog's own field for the file (Qt names it so on every platform
    // with its own print dialog); the printer keeps going to paper until the
    // writer picks the file.
    auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("filename"));
    if (!field) return;
    for (const QPointer<Document>& document : manager.documents) {
        if (!document) continue;
        if (document->isUntitled()) return;
        const QFileInfo file(document->filePath());
        field->setText(file.dir().filePath(file.completeBaseName() + QStringLiteral(".pdf")));
        return;
    }
}

QString pagesText(int count)
{
    return count == 1 ? localized("print.pages.one")
                      : localizedFormat(QStringLiteral("print.pages"), {QLocale().toString(count)});
}

} // namespace

PrintOperation::PrintOperation(const std::vector<Document*>& documents) : m_printer(QPrinter::HighResolution)
{
    for (Document* document : documents) m_printView.delegate().documents.emplace_back(document);
    // The margins are the layout's: the painter starts at the paper's corner.
    m_printer.setFullPage(true);
    if (!sessionLayout()) sessionLayout() = m_printer.pageLayout();
    applyPaper(m_printer, *sessionLayout());
    // A PDF file is named after the first document.
    if (!documents.empty() && documents.front()) {
        const Document& first = *documents.front();
        m_printer.setDocName(first.isUntitled() ? first.displayName()
                                                : NativePath::shown(QFileInfo(first.filePath()).completeBaseName()));
    }
}

PrintOperation::~PrintOperation() = default;

QPageLayout PrintOperation::pageLayout()
{
    if (!sessionLayout()) sessionLayout() = QPrinter(QPrinter::HighResolution).pageLayout();
    return *sessionLayout();
}

void PrintOperation::setPageLayout(const QPageLayout& layout)
{
    sessionLayout() = layout;
}

bool PrintOperation::runPageLayout(QWidget* parent, QPrinter* printer)
{
    PageSetupDialog dialog(printer ? printer->pageLayout() : pageLayout(), parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    const QPageLayout chosen = dialog.chosenLayout();
    if (printer) applyPaper(*printer, chosen);
    setPageLayout(chosen);
    return true;
}

PlatformStatus PrintOperation::run(QWidget* parent)
{
    // Nothing to print is said at once, never run as an empty job.
    if (m_printView.knowsPageRange(m_printer) == 0) return m_printView.emptyJobError();
    // The preview shows these pages first.
    m_printView.keepLayoutForNextRequest();

    QDialog panel(parent);
    panel.setWindowTitle(localized("print.title"));
    panel.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    panel.resize(620, 760);

    auto* preview = new QPrintPreviewWidget(&m_printer);
    preview->setZoomMode(QPrintPreviewWidget::FitInView);
    QObject::connect(preview, &QPrintPreviewWidget::paintRequested, &panel,
                     [this](QPrinter* printer) { m_printView.print(*printer, true); });

    auto* accessory = new PrintAccessoryViewController;
    accessory->printView = &m_printView;
    QObject::connect(accessory, &PrintAccessoryViewController::applyMarkdownChanged, preview,
                     &QPrintPreviewWidget::updatePreview);

    auto* pages = views::label(QString());
    pages->setObjectName(QStringLiteral("pageCount"));
    QObject::connect(preview, &QPrintPreviewWidget::previewChanged, pages,
                     [pages, preview] { pages->setText(pagesText(preview->pageCount())); });

    PlatformStatus result = PlatformError::cancelled();
    auto* pageSetup = views::button(localized("menu.file.pageSetup"), {}, [this, &panel, preview] {
        if (runPageLayout(&panel, &m_printer)) preview->updatePreview();
    });
    auto* cancel = views::button(localized("dialog.button.cancel"), {}, [&panel] { panel.reject(); });
    auto* print = views::button(localized("menu.file.print"), {}, [this, &panel, &result] {
        QPrintDialog dialog(&m_printer, &panel);
        dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange
                          | QAbstractPrintDialog::PrintCollateCopies | QAbstractPrintDialog::PrintShowPageSize);
        dialog.setMinMax(1, std::max(1, m_printView.pageCount()));
        proposeOutputFile(dialog, m_printer, m_printView.delegate());
        // Cancelling the print dialog goes back to the panel.
        if (dialog.exec() != QDialog::Accepted) return;
        result = m_printView.print(m_printer);
        setPageLayout(m_printer.pageLayout());
        panel.accept();
    });
    print->setDefault(true);

    auto* controls = views::horizontalStack({accessory, pages}, Qt::AlignVCenter, 16);
    auto* buttons = views::horizontalStack({pageSetup, cancel, print}, Qt::AlignVCenter, 8);
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(16, 10, 16, 14);
    bottom->addWidget(controls);
    bottom->addStretch(1);
    bottom->addWidget(buttons);
    auto* column = new QVBoxLayout(&panel);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(preview, 1);
    column->addLayout(bottom);

    panel.exec();
    return result;
}

} // namespace lumora
