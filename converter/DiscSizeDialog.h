// The "Make Disc Image" question for the disc size: a list of the sizes, in a dialog wide
// enough that the window manager shows its whole title.
#pragma once

#include <QInputDialog>
#include <memory>

namespace tovamo {

std::unique_ptr<QInputDialog> MakeDiscSizeDialog(QWidget* parent, const QStringList& sizes);

}  // namespace tovamo
