#pragma once

#include <QColor>
#include <QComboBox>

#include <memory>
#include <vector>

namespace lumora {

class Library;

// The library popup of the library pane's header: a borderless pop-up of the
// libraries, one item per library in the list's order. Each title is the
// folder's name, followed by the parent folders that tell it apart in the
// quieter colour; the title of a library kept for this run only starts
// with "- ".
class LibraryPopup : public QComboBox {
public:
    explicit LibraryPopup(QWidget* parent = nullptr);

    // The name a library goes by: its title, or for a library whose folder
    // is gone, the name its folder had.
    static QString libraryName(const Library& library);

    // Colours from the theme: the name, and what follows it.
    QColor text, secondary;

    void setItem(int index, const std::shared_ptr<Library>& library);
    void insertLibrary(int index, const std::shared_ptr<Library>& library);
    void removeLibrary(int index);
    void clearLibraries();
    // The library of an item; none for no item, or one that has gone.
    std::shared_ptr<Library> libraryAt(int index) const;

    QSize sizeHint() const override;
    // A long title is cut short rather than widen the pane.
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // One per item, in the list's order.
    std::vector<std::weak_ptr<Library>> m_libraries;
};

} // namespace lumora
