#include "DropZoneView.h"

#include "FileChooser.h"
#include "ImageDropExpander.h"
#include "JobColors.h"
#include "Localization.h"
#include "SymbolIcons.h"
#include "URLAccumulator.h"

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

#include <cctype>
#include <utility>

namespace vantro {

namespace {

constexpr int kIconSize = 40;
constexpr int kSpacing = 12;
constexpr double kTargetedOpacity = 0.15;
constexpr double kIdleOpacity = 0.08;

// The local paths a drag names, as the bytes the file system knows them by.
// The list is read as written, not through QUrl: QUrl decodes it as UTF-8,
// so a name whose bytes a drag source left unescaped would come out with
// U+FFFD and stand for another file, one whose name really holds it. Lines
// end in CRLF, or in LF alone from some sources; "#" starts a comment. Items
// that are not local files give no path. A host other than localhost makes
// "//host/path", as QUrl::toLocalFile() does.
QList<QByteArray> localPaths(const QMimeData* data)
{
    QList<QByteArray> paths;
    if (data == nullptr)
        return paths;
    const auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    for (QByteArray line : data->data(QStringLiteral("text/uri-list")).split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.left(5).toLower() != "file:")
            continue;
        QByteArray rest = line.mid(5);
        QByteArray host;
        if (rest.startsWith("//")) {
            const qsizetype slash = rest.indexOf('/', 2);
            host = rest.mid(2, slash < 0 ? -1 : slash - 2).toLower();
            rest = slash < 0 ? QByteArray() : rest.mid(slash);
        }
        // A query or a fragment is no part of the path.
        for (const char stop : {'?', '#'}) {
            if (const qsizetype at = rest.indexOf(stop); at >= 0)
                rest.truncate(at);
        }
        // A "%" that starts no escape stays as written, as QUrl keeps it.
        QByteArray path;
        for (qsizetype i = 0; i < rest.size(); ++i) {
            if (rest[i] == '%' && i + 2 < rest.size() && isHex(rest[i + 1]) && isHex(rest[i + 2])) {
                path += QByteArray::fromHex(rest.mid(i + 1, 2));
                i += 2;
            } else {
                path += rest[i];
            }
        }
        if (!path.isEmpty())
            paths.append(host.isEmpty() || host == "localhost" ? path : "//" + host + path);
    }
    return paths;
}

bool carriesLocalFiles(const QMimeData* data)
{
    return !localPaths(data).isEmpty();
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
    if (!carriesLocalFiles(event->mimeData()) || !acceptWithoutMove(event))
        return event->ignore();
    setTargeted(true);
}

void DropZoneView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!carriesLocalFiles(event->mimeData()) || !acceptWithoutMove(event))
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
    const QList<QByteArray> paths = localPaths(event->mimeData());
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
