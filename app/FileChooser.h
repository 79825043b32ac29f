#pragma once

#include <QStringList>

#include <functional>

class QWidget;

namespace vantro {

// Lets the user choose files and folders, several at once, without blocking.
// `done` receives the chosen paths, or an empty list on cancel.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    virtual void choose(QWidget* parent, std::function<void(QStringList)> done) = 0;

    static FileChooser& dialog();
};

} // namespace vantro
