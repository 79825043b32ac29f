#include "DropZoneView.h"

#include "FileChooser.h"
#include "ImageDropExpander.h"
#include "JobColors.h"
#include "Localization.h"
#include "SymbolIcons.h"
#include "URLAccumulator.h"
#include "UriList.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>

#include <utility>

namespace vantro {

namespace {

constexpr int kIconSize = 40;
constexpr int kSpacing = 12;
constexpr double kTargetedOpacity = 0.15;
constexpr double kIdleOpacity = 0.08;

// The files a drag names, items on other computers included, so that each
// of those is shown as a failed row rather than the drag being refused.
QList<QByteArray> droppedPaths(const QMimeData* data)
{
    return data == nullptr ? QList<QByteArray>() : UriList::filePaths(data->data(QStringLiteral("text/uri-list")));
}

bool carriesFiles(const QMimeData* data)
{
    return !droppedPaths(data).isEmpty();
}

// A drop is taken as a copy, or as a link when that is all the drag offers:
// a file manager told "moved" may delete the source.
bool acceptWithoutMove(QDropEvent* event)
{
    const Qt::DropActions offered = event->possibleActions();
    if (offered & Qt::CopyAction) {
        event->setDropAction(Qt::CopyAction);
    } else if (offered & Qt::LinkAction) {
        event->setDropAction(Qt::LinkAction);
    } else {
        event->ignore();
        return false;
    }
    event->accept();
    return true;
}

} // namespace

DropZoneView::DropZoneView(FileChooser& chooser, FilesChosen onFilesChosen, QWidget* parent)
    : QWidget(parent)
    , m_chooser(chooser)
    , m_onFilesChosen(std::move(onFilesChosen))
{
    setAcceptDrops(true);

    const Strings strings(AppLanguage::current());
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(kSpacing);
    layout->setAlignment(Qt::AlignCenter);

    m_icon = new QLabel(this);
    tintIcon();
    layout->addWidget(m_icon, 0, Qt::AlignHCenter);

    auto* text = new QLabel(strings.dropFilesHere, this);
    layout->addWidget(text, 0, Qt::AlignHCenter);

    auto* chooseButton = new QPushButton(strings.chooseFilesEllipsis, this);
    layout->addWidget(chooseButton, 0, Qt::AlignHCenter);
    connect(chooseButton, &QPushButton::clicked, this, &DropZoneView::openPanel);
}

DropZoneView::~DropZoneView() = default;

void DropZoneView::tintIcon()
{
    m_icon->setPixmap(SymbolIcons::pixmap(QStringLiteral("drop-arrow"), kIconSize, JobColors::secondary(palette()),
                                          devicePixelRatioF()));
}

void DropZoneView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_icon != nullptr)
        tintIcon();
}

void DropZoneView::openPanel()
{
    QPointer<DropZoneView> self(this);
    m_chooser.choose(window(), [self](const QStringList& paths) {
        // An empty answer is a cancelled chooser, which hands over nothing.
        if (paths.isEmpty() || !self)
            return;
        // Lossless: the chooser lists only names that are valid UTF-8.
        QList<QByteArray> encoded;
        for (const QString& path : paths)
            encoded.append(QFile::encodeName(path));
        self->expandAndDeliver(encoded);
    });
}

void DropZoneView::expandAndDeliver(const QList<QByteArray>& paths)
{
    // The walk reads the file system, so it stays off the GUI thread. The
    // result hops back with the application object as context (it outlives
    // the global pool's tasks) and is handed over only if the zone still
    // exists; the guard is read on the GUI thread alone.
    QThreadPool::globalInstance()->start([paths, self = QPointer<DropZoneView>(this)]() mutable {
        QStringList files = ImageDropExpander::expandToFiles(paths);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self = std::move(self), files = std::move(files)] {
                if (DropZoneView* zone = self.data())
                    zone->deliver(files);
            },
            Qt::QueuedConnection);
    });
}

void DropZoneView::deliver(const QStringList& files)
{
    if (m_onFilesChosen)
        m_onFilesChosen(files);
}

void DropZoneView::setTargeted(bool targeted)
{
    if (m_isTargeted == targeted)
        return;
    m_isTargeted = targeted;
    update();
}

void DropZoneView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!carriesFiles(event->mimeData()) || !acceptWithoutMove(event))
        return event->ignore();
    setTargeted(true);
}

void DropZoneView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!carriesFiles(event->mimeData()) || !acceptWithoutMove(event))
        event->ignore();
}

void DropZoneView::dragLeaveEvent(QDragLeaveEvent* event)
{
    setTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void DropZoneView::dropEvent(QDropEvent* event)
{
    setTargeted(false);
    const QList<QByteArray> paths = droppedPaths(event->mimeData());
    if (paths.isEmpty() || !acceptWithoutMove(event))
        return event->ignore();
    URLAccumulator accumulator;
    for (const QByteArray& path : paths)
        accumulator.add(path);
    expandAndDeliver(accumulator.snapshot());
}

void DropZoneView::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    QColor fill = m_isTargeted ? palette().color(QPalette::Highlight) : QColor(Qt::gray);
    fill.setAlphaF(static_cast<float>(m_isTargeted ? kTargetedOpacity : kIdleOpacity));
    painter.fillRect(rect(), fill);
}

} // namespace vantro
