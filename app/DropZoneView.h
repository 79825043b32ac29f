#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QWidget>

#include <functional>

class QLabel;

namespace vantro {

class FileChooser;

// The area at the top of the main window through which files come in: drops
// of local files and folders, and the "Choose Files…" button. Each drop and
// each confirmed choice is expanded into image files away from the GUI thread
// and handed to the owner once, on the GUI thread, also when no image was
// found. A cancelled choice hands over nothing.
class DropZoneView final : public QWidget {
    Q_OBJECT

public:
    using FilesChosen = std::function<void(const QStringList& imageFiles)>;

    DropZoneView(FileChooser& chooser, FilesChosen onFilesChosen, QWidget* parent = nullptr);
    ~DropZoneView() override;

    // True while a drag carrying local files is over the zone.
    bool isTargeted() const { return m_isTargeted; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void openPanel();
    void expandAndDeliver(const QList<QByteArray>& paths);
    void deliver(const QStringList& files);
    void setTargeted(bool targeted);
    void tintIcon();

    FileChooser& m_chooser;
    const FilesChosen m_onFilesChosen;
    bool m_isTargeted = false;
    QLabel* m_icon = nullptr;
};

} // namespace vantro
