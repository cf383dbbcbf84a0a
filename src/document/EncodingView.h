#pragma once

class QWidget;

namespace lumora {

// The encoding chooser that the save and open dialogs show below their file
// list: a label and a pop-up of the text encodings, "Automatic" first and
// then every encoding the registry offers, in its order. The pop-up is bound
// to the "saveEncoding" preference: it shows the stored choice when the
// dialog opens, and choosing an item stores it at once (-1 for automatic,
// else the encoding's number), also when the dialog is then cancelled. The
// reader tries that encoding first; the writer uses it for documents that
// remember none, and a save dialog's choice applies to its save.
//
// A stored value that matches no item leaves the pop-up without a
// selection, and stays stored until an item is chosen.
class EncodingView {
public:
    EncodingView() = delete;

    // A new chooser for one dialog (each dialog gets its own). Stores -1
    // under "saveEncoding" when nothing is stored there yet.
    static QWidget* makeEncodingAccessoryView();
};

} // namespace lumora
