#include "SettingsPanelView.h"

#include "ElidedLabel.h"
#include "FolderChooser.h"
#include "Localization.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTextLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <vector>

namespace vantro {

namespace {

constexpr int kContentWidth = 520;
constexpr int kResizeValueWidth = 64;
constexpr int kMaxSequenceDigits = 5;

// The sequence digit count: "no number" at 0, "N dig." above. The text can
// also be typed, as shown or as the bare number.
class DigitsSpinBox final : public QSpinBox {
public:
    explicit DigitsSpinBox(QWidget* parent) : QSpinBox(parent) { setRange(0, kMaxSequenceDigits); }

protected:
    QString textFromValue(int value) const override { return Strings(AppLanguage::current()).digitsCount(value); }

    int valueFromText(const QString& text) const override
    {
        const int value = valueFor(text.trimmed());
        return value < 0 ? this->value() : value;
    }

    QValidator::State validate(QString& input, int&) const override
    {
        return valueFor(input.trimmed()) < 0 ? QValidator::Intermediate : QValidator::Acceptable;
    }

private:
    // -1 when the text names no value.
    int valueFor(const QString& text) const
    {
        for (int value = minimum(); value <= maximum(); ++value) {
            if (text == textFromValue(value) || text == QString::number(value)
                || (value == minimum() && text == specialValueText()))
                return value;
        }
        return -1;
    }
};

// The form's holder: a fixed width, and as tall as the rows shown need at that
// width, wrapped captions included (a plain size hint guesses their width).
class FormContent final : public QWidget {
public:
    explicit FormContent(QWidget* parent) : QWidget(parent) { setFixedWidth(kContentWidth); }

    QSize sizeHint() const override
    {
        const int height = layout() ? layout()->totalHeightForWidth(kContentWidth) : -1;
        return height < 0 ? QWidget::sizeHint() : QSize(kContentWidth, height);
    }
};

QComboBox* makePicker(QWidget* parent, const char* name, int entries)
{
    auto* picker = new QComboBox(parent);
    picker->setObjectName(QLatin1StringView(name));
    for (int i = 0; i < entries; ++i)
        picker->addItem(QString());
    return picker;
}

// Entries stand in the option's declaration order, so an entry's row is its
// case; only the user's choice (activated) writes.
template <typename OptionType, typename Write>
void onChosen(QComboBox* picker, Write write)
{
    QObject::connect(picker, &QComboBox::activated, picker, [write](int row) { write(static_cast<OptionType>(row)); });
}

template <typename OptionType>
void showChoice(QComboBox* picker, OptionType option)
{
    picker->setCurrentIndex(static_cast<int>(option));
}

void setEntryTexts(QComboBox* picker, const QStringList& texts)
{
    for (int row = 0; row < texts.size(); ++row) {
        if (picker->itemText(row) != texts[row])
            picker->setItemText(row, texts[row]);
    }
}

// The entry stays listed, greyed out and not choosable.
void setEntryEnabled(QComboBox* picker, int row, bool enabled)
{
    if (auto* model = qobject_cast<QStandardItemModel*>(picker->model()))
        model->item(row)->setEnabled(enabled);
}

QLineEdit* makeField(QWidget* parent, const char* name)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1StringView(name));
    return field;
}

// Leaves the field alone while it already holds the text, so typing keeps
// its cursor and selection.
void showText(QLineEdit* field, const QString& text)
{
    if (field->text() != text)
        field->setText(text);
}

// A caption under a control: smaller, in the palette's placeholder colour so
// it stays readable in dark themes.
void makeCaptionStyle(QLabel* label, const char* name)
{
    label->setObjectName(QLatin1StringView(name));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont caption = label->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    label->setFont(caption);
}

// A caption that wraps between words, and inside a word too long for a line,
// so that all of it shows; as tall as its lines at the width it is given.
// (QLabel breaks only between words and lets a longer one run out of sight.)
class WrappingCaption final : public QLabel {
public:
    explicit WrappingCaption(QWidget* parent) : QLabel(parent)
    {
        // The size policy that asks the layout for a height for each width.
        setWordWrap(true);
    }

    int heightForWidth(int width) const override
    {
        const QMargins margins = contentsMargins();
        QTextLayout lines(text(), font(), this);
        return layOut(lines, width - margins.left() - margins.right()) + margins.top() + margins.bottom();
    }

    // The whole text on one line.
    QSize sizeHint() const override
    {
        const QMargins margins = contentsMargins();
        const int width = static_cast<int>(std::ceil(QFontMetricsF(font(), this).horizontalAdvance(text())))
            + margins.left() + margins.right();
        return {width, heightForWidth(width)};
    }

    // Any character may start a line.
    QSize minimumSizeHint() const override
    {
        const QMargins margins = contentsMargins();
        const QFontMetrics metrics(font(), this);
        return {metrics.maxWidth() + margins.left() + margins.right(),
                metrics.height() + margins.top() + margins.bottom()};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        QTextLayout lines(text(), font(), this);
        layOut(lines, contentsRect().width());
        lines.draw(&painter, contentsRect().topLeft());
    }

private:
    // Breaks the text into lines of `width`, aligned as the label is; the
    // height they take.
    int layOut(QTextLayout& lines, int width) const
    {
        QTextOption option(alignment() & Qt::AlignHorizontal_Mask);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        lines.setTextOption(option);
        qreal height = 0;
        lines.beginLayout();
        for (QTextLine line = lines.createLine(); line.isValid(); line = lines.createLine()) {
            line.setLineWidth(std::max(width, 1));
            line.setPosition(QPointF(0, height));
            height += line.height();
        }
        lines.endLayout();
        return static_cast<int>(std::ceil(height));
    }
};

QLabel* makeCaption(QWidget* parent, const char* name)
{
    auto* label = new WrappingCaption(parent);
    makeCaptionStyle(label, name);
    return label;
}

// The controls of a row that holds more than one, stacked with their
// trailing edges aligned.
QWidget* trailingColumn(std::initializer_list<QWidget*> children)
{
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    for (QWidget* child : children)
        layout->addWidget(child, 0, qobject_cast<QPushButton*>(child) ? Qt::AlignRight : Qt::Alignment());
    return column;
}

QWidget* lineOf(std::initializer_list<QWidget*> children, int spacing)
{
    auto* line = new QWidget;
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget* child : children)
        layout->addWidget(child);
    return line;
}

} // namespace

struct SettingsPanelView::Private {
    QFormLayout* form = nullptr;

    QLabel* modeLabel = nullptr;
    QComboBox* mode = nullptr;
    QLabel* qualityLabel = nullptr;
    QSlider* quality = nullptr;
    QLabel* resizeLabel = nullptr;
    QComboBox* resizeMode = nullptr;
    QLineEdit* resizeValue = nullptr;
    QLabel* resizeCaption = nullptr;
    QLabel* outputLabel = nullptr;
    QComboBox* outputMode = nullptr;
    QCheckBox* backup = nullptr;
    QLabel* folderLabel = nullptr;
    QWidget* folderRow = nullptr;
    QPushButton* chooseFolder = nullptr;
    ElidedLabel* folderPath = nullptr;
    QLabel* formatLabel = nullptr;
    QComboBox* targetFormat = nullptr;
    QLabel* originalLabel = nullptr;
    QComboBox* originalFile = nullptr;
    QLabel* renamingLabel = nullptr;
    QComboBox* renamingMode = nullptr;
    QLabel* baseNameLabel = nullptr;
    QWidget* baseNameRow = nullptr;
    QLineEdit* baseName = nullptr;
    QLabel* sequenceExample = nullptr;
    QLabel* numberingLabel = nullptr;
    QWidget* numberingRow = nullptr;
    DigitsSpinBox* digits = nullptr;
    QComboBox* separator = nullptr;
    QCheckBox* askForName = nullptr;
    QLabel* prefixSuffixLabel = nullptr;
    QWidget* prefixSuffixRow = nullptr;
    QLineEdit* prefix = nullptr;
    QLineEdit* suffix = nullptr;
    QLabel* prefixSuffixExample = nullptr;

    // Whether renaming was in effect at the last refresh.
    bool renamingWasActive = false;

    // Every row in form order, the form holding only those shown; a toggle
    // row has no label.
    struct Row {
        QWidget* label;
        QWidget* field;
        bool shown = true;
    };
    std::vector<Row> rows;

    QLabel* addRow(QWidget* field)
    {
        auto* label = new QLabel;
        label->setTextFormat(Qt::PlainText);
        form->addRow(label, field);
        rows.push_back({label, field});
        return label;
    }

    // A toggle row: the box in the controls' column, its title beside it.
    void addToggleRow(QCheckBox* toggle)
    {
        form->addRow(static_cast<QWidget*>(nullptr), toggle);
        rows.push_back({nullptr, toggle});
    }

    // A row that does not apply leaves the form and comes back into its
    // place, rather than staying in it hidden: QFormLayout (6.4) keeps the
    // line number a hidden row had in the last layout it took part in, and
    // once the rows above it change that number can be a shown row's, whose
    // height the hidden row then overwrites with nothing whenever a wrapping
    // caption is in the form.
    void showRow(QWidget* field, bool on)
    {
        int line = 0;
        for (Row& row : rows) {
            if (row.field != field) {
                line += row.shown ? 1 : 0;
                continue;
            }
            if (row.shown == on)
                return;
            row.shown = on;
            if (on) {
                form->insertRow(line, row.label, row.field);
            } else {
                // The layout's items, not the widgets.
                const QFormLayout::TakeRowResult taken = form->takeRow(line);
                delete taken.labelItem;
                delete taken.fieldItem;
            }
            if (row.label)
                row.label->setVisible(on);
            row.field->setVisible(on);
            return;
        }
    }
};

SettingsPanelView::SettingsPanelView(AppSettings& settings, FolderChooser& folderChooser, QWidget* parent)
    : QMainWindow(parent)
    , m_settings(settings)
    , m_folderChooser(folderChooser)
    , d(std::make_unique<Private>())
{
    auto* content = new FormContent(this);
    d->form = new QFormLayout(content);
    d->form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    d->form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    d->form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);

    d->mode = makePicker(content, "mode", 2);
    d->modeLabel = d->addRow(d->mode);
    onChosen<AppSettings::CompressionModeOption>(d->mode, [&settings](auto mode) { settings.setMode(mode); });

    // Every step of a drag is written, not just where it ends.
    d->quality = new QSlider(Qt::Horizontal, content);
    d->quality->setObjectName(QStringLiteral("lossyQuality"));
    d->quality->setRange(1, 100);
    d->qualityLabel = d->addRow(d->quality);
    connect(d->quality, &QSlider::valueChanged, this, [&settings](int value) { settings.setLossyQuality(value); });

    const auto resizeOptions = static_cast<int>(allCases<AppSettings::ResizeModeOption>().size());
    d->resizeMode = makePicker(content, "resizeMode", resizeOptions);
    d->resizeValue = makeField(content, "resizeValue");
    d->resizeValue->setFixedWidth(kResizeValueWidth);
    d->resizeCaption = makeCaption(content, "resizeCaption");
    d->resizeLabel = d->addRow(trailingColumn({lineOf({d->resizeMode, d->resizeValue}, 8), d->resizeCaption}));
    onChosen<AppSettings::ResizeModeOption>(d->resizeMode,
                                            [&settings](auto option) { settings.selectResizeMode(option); });
    connect(d->resizeValue, &QLineEdit::textEdited, this,
            [&settings](const QString& text) { settings.setResizeValueText(text); });

    d->outputMode = makePicker(content, "outputMode", 3);
    d->outputLabel = d->addRow(d->outputMode);
    onChosen<AppSettings::OutputModeOption>(d->outputMode, [&settings](auto mode) { settings.setOutputMode(mode); });

    d->backup = new QCheckBox(content);
    d->backup->setObjectName(QStringLiteral("backupOnInPlace"));
    d->addToggleRow(d->backup);
    connect(d->backup, &QCheckBox::clicked, this, [&settings](bool on) { settings.setBackupOnInPlace(on); });

    d->chooseFolder = new QPushButton(content);
    d->chooseFolder->setObjectName(QStringLiteral("chooseFolder"));
    d->folderPath = new ElidedLabel(Qt::ElideLeft, content);
    makeCaptionStyle(d->folderPath, "customFolderPath");
    d->folderRow = trailingColumn({d->chooseFolder, d->folderPath});
    d->folderLabel = d->addRow(d->folderRow);
    connect(d->chooseFolder, &QPushButton::clicked, this, &SettingsPanelView::chooseCustomFolder);

    d->targetFormat = makePicker(content, "targetFormat", 4);
    d->formatLabel = d->addRow(d->targetFormat);
    onChosen<AppSettings::TargetFormatOption>(d->targetFormat,
                                              [&settings](auto format) { settings.setTargetFormat(format); });

    d->originalFile = makePicker(content, "originalFileHandling", 2);
    d->originalLabel = d->addRow(d->originalFile);
    onChosen<AppSettings::OriginalFileHandlingOption>(
        d->originalFile, [&settings](auto handling) { settings.setOriginalFileHandling(handling); });

    d->renamingMode = makePicker(content, "renamingMode", 3);
    d->renamingLabel = d->addRow(d->renamingMode);
    onChosen<AppSettings::RenamingModeOption>(d->renamingMode,
                                              [&settings](auto mode) { settings.setRenamingMode(mode); });

    d->baseName = makeField(content, "renamingBaseName");
    d->sequenceExample = makeCaption(content, "sequenceExample");
    d->baseNameRow = trailingColumn({d->baseName, d->sequenceExample});
    d->baseNameLabel = d->addRow(d->baseNameRow);
    connect(d->baseName, &QLineEdit::textEdited, this,
            [&settings](const QString& text) { settings.setRenamingBaseName(text); });

    d->digits = new DigitsSpinBox(content);
    d->digits->setObjectName(QStringLiteral("sequenceDigits"));
    d->separator = makePicker(content, "sequenceSeparator", 5);
    d->numberingRow = lineOf({d->digits, d->separator}, 12);
    d->numberingLabel = d->addRow(d->numberingRow);
    connect(d->digits, &QSpinBox::valueChanged, this, [&settings](int value) { settings.setSequenceDigits(value); });
    onChosen<AppSettings::SequenceSeparatorOption>(
        d->separator, [&settings](auto separator) { settings.setSequenceSeparatorOption(separator); });

    d->askForName = new QCheckBox(content);
    d->askForName->setObjectName(QStringLiteral("askForNameBeforeExport"));
    d->addToggleRow(d->askForName);
    connect(d->askForName, &QCheckBox::clicked, this, [&settings](bool on) { settings.setAskForNameBeforeExport(on); });

    d->prefix = makeField(content, "renamingPrefix");
    d->suffix = makeField(content, "renamingSuffix");
    d->prefixSuffixExample = makeCaption(content, "prefixSuffixExample");
    d->prefixSuffixRow = trailingColumn({d->prefix, d->suffix, d->prefixSuffixExample});
    d->prefixSuffixLabel = d->addRow(d->prefixSuffixRow);
    connect(d->prefix, &QLineEdit::textEdited, this,
            [&settings](const QString& text) { settings.setRenamingPrefix(text); });
    connect(d->suffix, &QLineEdit::textEdited, this,
            [&settings](const QString& text) { settings.setRenamingSuffix(text); });

    setCentralWidget(content);
    // The window is as tall as the rows shown, growing and shrinking with them.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    d->renamingWasActive = settings.renamingIsEffectivelyActive();
    connect(&settings, &AppSettings::changed, this, &SettingsPanelView::refresh);
    refresh();
}

SettingsPanelView::~SettingsPanelView() = default;

void SettingsPanelView::refresh()
{
    AppSettings& s = m_settings;

    // Output never replaces originals while renaming is in effect: when
    // renaming comes into effect over in-place output, the output moves beside
    // the originals. Only a change seen while the window shows acts; the
    // engine's settings cover the rest.
    const bool renamingActive = s.renamingIsEffectivelyActive();
    const bool cameIntoEffect = renamingActive && !d->renamingWasActive && isVisible();
    d->renamingWasActive = renamingActive;
    if (cameIntoEffect && s.outputMode() == AppSettings::OutputModeOption::inPlace) {
        s.setOutputMode(AppSettings::OutputModeOption::copyAlongside); // refreshes again
        return;
    }

    const Strings t(AppLanguage::current());

    d->modeLabel->setText(t.mode);
    setEntryTexts(d->mode, {t.lossless, t.lossy});
    showChoice(d->mode, s.mode());

    d->qualityLabel->setText(t.quality(s.lossyQuality()));
    {
        const QSignalBlocker quiet(d->quality);
        d->quality->setValue(static_cast<int>(std::clamp<int64_t>(s.lossyQuality(), 1, 100)));
    }
    d->showRow(d->quality, s.mode() == AppSettings::CompressionModeOption::lossy);

    const AppSettings::ResizeModeOption resize = s.effectiveResizeMode();
    QStringList resizeLabels;
    for (const AppSettings::ResizeModeOption option : allCases<AppSettings::ResizeModeOption>())
        resizeLabels << resizeModeLabel(option);
    d->resizeLabel->setText(t.resize);
    setEntryTexts(d->resizeMode, resizeLabels);
    showChoice(d->resizeMode, resize);
    d->resizeValue->setVisible(resize != AppSettings::ResizeModeOption::original);
    showText(d->resizeValue, s.resizeValueText());
    d->resizeValue->setPlaceholderText(resizeValuePlaceholder(resize));
    const std::optional<QString> caption = resizeCaption(resize);
    d->resizeCaption->setText(caption.value_or(QString()));
    d->resizeCaption->setVisible(caption.has_value());

    d->outputLabel->setText(t.output);
    setEntryTexts(d->outputMode, {t.copyAlongside, t.overwriteOriginal, t.customFolder});
    setEntryEnabled(d->outputMode, static_cast<int>(AppSettings::OutputModeOption::inPlace), !renamingActive);
    showChoice(d->outputMode, s.outputMode());

    d->backup->setText(t.backupOriginal);
    d->backup->setChecked(s.backupOnInPlace());
    d->showRow(d->backup, s.outputMode() == AppSettings::OutputModeOption::inPlace);

    d->folderLabel->setText(t.destinationFolder);
    d->chooseFolder->setText(t.chooseFolderEllipsis);
    d->folderPath->setFullText(s.customFolderPath());
    d->showRow(d->folderRow, s.outputMode() == AppSettings::OutputModeOption::customFolder);

    d->formatLabel->setText(t.outputFormat);
    // The format names read the same in every language.
    setEntryTexts(d->targetFormat,
                  {t.keepOriginalFormat, QStringLiteral("WebP"), QStringLiteral("JPEG"), QStringLiteral("PNG")});
    showChoice(d->targetFormat, s.targetFormat());

    d->originalLabel->setText(t.originalFile);
    setEntryTexts(d->originalFile, {t.keep, t.moveToTrash});
    showChoice(d->originalFile, s.originalFileHandling());
    d->originalFile->setEnabled(s.targetFormat() != AppSettings::TargetFormatOption::keepOriginal);

    d->renamingLabel->setText(t.renaming);
    setEntryTexts(d->renamingMode, {t.keepNames, t.customNamePlusNumber, t.prefixAndSuffix});
    showChoice(d->renamingMode, s.renamingMode());

    const bool sequence = s.renamingMode() == AppSettings::RenamingModeOption::sequence;
    d->baseNameLabel->setText(t.baseName);
    showText(d->baseName, s.renamingBaseName());
    d->baseName->setPlaceholderText(t.baseNamePlaceholder);
    d->sequenceExample->setText(sequenceExample(s.renamingBaseName(), s.sequenceDigits(), s.sequenceSeparatorOption()));
    d->showRow(d->baseNameRow, sequence);

    d->numberingLabel->setText(t.numbering);
    // Setting it rewrites the field, also when the text is the same.
    if (d->digits->specialValueText() != t.noNumber)
        d->digits->setSpecialValueText(t.noNumber);
    {
        const QSignalBlocker quiet(d->digits);
        d->digits->setValue(static_cast<int>(std::clamp<int64_t>(s.sequenceDigits(), 0, kMaxSequenceDigits)));
    }
    setEntryTexts(d->separator,
                  {t.separatorNone, t.separatorSpace, t.separatorDash, t.separatorUnderscore, t.separatorComma});
    showChoice(d->separator, s.sequenceSeparatorOption());
    d->separator->setEnabled(s.sequenceDigits() != 0);
    d->showRow(d->numberingRow, sequence);

    d->askForName->setText(t.askForNameBeforeExport);
    d->askForName->setChecked(s.askForNameBeforeExport());
    d->showRow(d->askForName, sequence);

    d->prefixSuffixLabel->setText(t.prefixSuffixRow);
    showText(d->prefix, s.renamingPrefix());
    d->prefix->setPlaceholderText(t.prefixPlaceholder);
    showText(d->suffix, s.renamingSuffix());
    d->suffix->setPlaceholderText(t.suffixPlaceholder);
    d->prefixSuffixExample->setText(t.prefixSuffixExample);
    d->showRow(d->prefixSuffixRow, s.renamingMode() == AppSettings::RenamingModeOption::prefixSuffix);
}

void SettingsPanelView::chooseCustomFolder()
{
    const std::optional<QString> chosen
        = m_folderChooser.chooseFolder(this, m_settings.customFolderURL().toLocalFile());
    if (!chosen)
        return;
    // A plain path: no trailing slash, except for the root itself.
    QString path = *chosen;
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    m_settings.setCustomFolderPath(path);
}

QString SettingsPanelView::sequenceExample(const QString& base, int64_t digits,
                                           AppSettings::SequenceSeparatorOption separatorOption)
{
    const QString b = base.isEmpty() ? Strings(AppLanguage::current()).sequenceExamplePlaceholderBase : base;
    if (digits < 1)
        return b + QStringLiteral(".webp, ") + b + QStringLiteral(u"-1.webp, \u2026");
    const QString separator = separatorText(separatorOption);
    const auto number = [digits](int n) {
        return QStringLiteral("%1").arg(n, static_cast<int>(std::min<int64_t>(digits, 100)), 10, QChar(u'0'));
    };
    return b + separator + number(1) + QStringLiteral(".webp, ") + b + separator + number(2)
        + QStringLiteral(u".webp, \u2026");
}

QString SettingsPanelView::resizeModeLabel(AppSettings::ResizeModeOption option)
{
    const Strings t(AppLanguage::current());
    switch (option) {
    case AppSettings::ResizeModeOption::original:
        return t.resizeModeOriginal;
    case AppSettings::ResizeModeOption::maxLongEdge:
        return t.resizeModeMaxLongEdge;
    case AppSettings::ResizeModeOption::maxShortEdge:
        return t.resizeModeMaxShortEdge;
    case AppSettings::ResizeModeOption::maxWidth:
        return t.resizeModeMaxWidth;
    case AppSettings::ResizeModeOption::maxHeight:
        return t.resizeModeMaxHeight;
    case AppSettings::ResizeModeOption::width:
        return t.resizeModeExactWidth;
    case AppSettings::ResizeModeOption::height:
        return t.resizeModeExactHeight;
    case AppSettings::ResizeModeOption::percentage:
        return t.resizeModePercentage;
    }
    return t.resizeModeOriginal;
}

std::optional<QString> SettingsPanelView::resizeCaption(AppSettings::ResizeModeOption option)
{
    if (option == AppSettings::ResizeModeOption::original)
        return std::nullopt;
    const Strings t(AppLanguage::current());
    switch (option) {
    case AppSettings::ResizeModeOption::original:
        return std::nullopt;
    case AppSettings::ResizeModeOption::maxLongEdge:
        return t.resizeCaptionMaxLongEdge;
    case AppSettings::ResizeModeOption::maxShortEdge:
        return t.resizeCaptionMaxShortEdge;
    case AppSettings::ResizeModeOption::maxWidth:
        return t.resizeCaptionMaxWidth;
    case AppSettings::ResizeModeOption::maxHeight:
        return t.resizeCaptionMaxHeight;
    case AppSettings::ResizeModeOption::width:
        return t.resizeCaptionExactWidth;
    case AppSettings::ResizeModeOption::height:
        return t.resizeCaptionExactHeight;
    case AppSettings::ResizeModeOption::percentage:
        return t.resizeCaptionPercentage;
    }
    return std::nullopt;
}

QString SettingsPanelView::resizeValuePlaceholder(AppSettings::ResizeModeOption option)
{
    const Strings t(AppLanguage::current());
    return option == AppSettings::ResizeModeOption::percentage ? t.resizeValuePlaceholderPercent
                                                               : t.resizeValuePlaceholderPixels;
}

} // namespace vantro
