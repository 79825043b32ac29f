#include "PresetMenuButton.h"

#include "AppSettings.h"
#include "Localization.h"
#include "TextPrompt.h"

#include <QFontMetricsF>
#include <QMenu>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionToolButton>

namespace vantro {

namespace {

// Menu and button texts treat "&" as a mnemonic marker; preset names are
// shown exactly as typed.
QString verbatim(QString text)
{
    return text.replace(u'&', QStringLiteral("&&"));
}

// The items are rebuilt while one of them may still be delivering its
// triggered signal (applying a preset changes all settings), so the old ones
// go at the next turn of the event loop rather than at once.
void discardItems(QMenu* menu)
{
    const QList<QAction*> items = menu->actions();
    for (QAction* item : items) {
        menu->removeAction(item);
        if (QMenu* submenu = item->menu())
            submenu->deleteLater();
        if (item->parent() == menu)
            item->deleteLater();
    }
}

} // namespace

PresetMenuButton::PresetMenuButton(AppSettings& settings, TextPrompt& prompt, QWidget* parent)
    : QToolButton(parent)
    , m_settings(settings)
    , m_prompt(prompt)
{
    setPopupMode(QToolButton::InstantPopup);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    // The menu arrow gets room of its own beside the title instead of
    // crowding its last letter.
    setStyleSheet(QStringLiteral("QToolButton { padding: 3px 18px 3px 8px; }"
                                 "QToolButton::menu-indicator { subcontrol-origin: padding;"
                                 " subcontrol-position: center right; right: 5px; }"));
    // As wide as the title asks; the footer lets it narrow, down to an
    // ellipsis, only once its summary has given all it can. The title is then
    // cut inside the button, clear of the arrow.
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    setMenu(new QMenu(this));
    connect(&m_settings, &AppSettings::changed, this, &PresetMenuButton::refresh);
    refresh();
}

void PresetMenuButton::refresh()
{
    const Strings texts(AppLanguage::current());
    const std::optional<SettingsPreset> active = m_settings.activePreset();
    const std::vector<SettingsPreset>& presets = m_settings.presets();

    m_title = active ? active->name : texts.presetsLabel;
    updateGeometry();
    showTitle();
    setToolTip(texts.presetsHelp);

    QMenu* items = menu();
    discardItems(items);

    for (const SettingsPreset& preset : presets) {
        QAction* item = items->addAction(verbatim(preset.name));
        item->setCheckable(true);
        item->setChecked(active && active->id == preset.id);
        // Choosing the ticked entry applies it again; the toggle's own new
        // state means nothing.
        connect(item, &QAction::triggered, this, [this, preset] { m_settings.applyPreset(preset); });
    }
    if (presets.empty())
        items->addAction(texts.noSavedPresets)->setEnabled(false);
    items->addSeparator();
    connect(items->addAction(texts.saveCurrentSettingsEllipsis), &QAction::triggered, this,
            &PresetMenuButton::askToSavePreset);
    if (!presets.empty()) {
        QMenu* deletions = items->addMenu(texts.deleteMenuTitle);
        for (const SettingsPreset& preset : presets) {
            const QUuid id = preset.id;
            connect(deletions->addAction(verbatim(preset.name)), &QAction::triggered, this,
                    [this, id] { m_settings.deletePreset(id); });
        }
    }
}

int PresetMenuButton::widthFor(const QString& shown) const
{
    // Measured as the tool button measures its own text, so that a title
    // given its size hint is never a fraction of a pixel short.
    ensurePolished();
    QStyleOptionToolButton option;
    initStyleOption(&option);
    option.text = verbatim(shown);
    const QFontMetrics metrics = fontMetrics();
    QSize text = metrics.size(Qt::TextShowMnemonic, option.text);
    text.rwidth() += 2 * metrics.horizontalAdvance(u' ');
    option.rect.setSize(text);
    return style()->sizeFromContents(QStyle::CT_ToolButton, &option, text, this).width();
}

QSize PresetMenuButton::sizeHint() const
{
    return {widthFor(m_title), QToolButton::sizeHint().height()};
}

QSize PresetMenuButton::minimumSizeHint() const
{
    return {widthFor(QStringLiteral(u"\u2026")), QToolButton::sizeHint().height()};
}

void PresetMenuButton::resizeEvent(QResizeEvent* event)
{
    QToolButton::resizeEvent(event);
    showTitle();
}

void PresetMenuButton::showEvent(QShowEvent* event)
{
    QToolButton::showEvent(event);
    showTitle();
}

void PresetMenuButton::showTitle()
{
    // Unshown, the button has no width of its own yet: the title goes whole;
    // given the width it asks for, it shows whole too. Narrower, the title
    // gets what the style leaves of the width and is cut at its end.
    QString shown = m_title;
    const int whole = widthFor(m_title);
    if (isVisible() && width() < whole) {
        const QFontMetricsF metrics(font());
        const qreal room = width() - whole + metrics.horizontalAdvance(m_title);
        shown = metrics.elidedText(m_title, Qt::ElideRight, room);
        if (shown.isEmpty())
            shown = QStringLiteral(u"\u2026");
    }
    if (shown == m_shown && !text().isEmpty())
        return;
    m_shown = shown;
    setText(verbatim(shown));
}

void PresetMenuButton::askToSavePreset()
{
    const Strings texts(AppLanguage::current());
    const std::optional<SettingsPreset> active = m_settings.activePreset();
    const TextPromptTexts promptTexts{texts.savePresetDialogTitle, texts.savePresetDialogMessage,
                                      texts.presetNameFieldLabel, texts.save, texts.cancel};
    // The answer comes later; the button may be gone by then.
    QPointer<PresetMenuButton> self(this);
    AppSettings* settings = &m_settings;
    m_prompt.ask(window(), promptTexts, active ? active->name : QString(),
                 [self, settings](std::optional<QString> name) {
                     // The settings trim the name and ignore a blank one.
                     if (self && name)
                         settings->savePreset(*name);
                 });
}

} // namespace vantro
