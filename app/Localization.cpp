#include "Localization.h"

#include <QLocale>

namespace vantro {

using namespace Qt::StringLiterals;

AppLanguage AppLanguage::current()
{
    // QLocale() is the process default: the system locale from the
    // environment, unless something called QLocale::setDefault.
    return QLocale().language() == QLocale::Czech ? AppLanguage::cs : AppLanguage::en;
}

QString Strings::pick(AppLanguage language, const QString& english, const QString& czech)
{
    return language == AppLanguage::en ? english : czech;
}

// Each text sits beside its translation: English first, then Czech.
Strings::Strings(AppLanguage language_)
    : language(language_)
    , dropFilesHere(pick(language, u"Drop files here"_s, u"Přetáhněte soubory sem"_s))
    , chooseFilesEllipsis(pick(language, u"Choose Files…"_s, u"Vybrat soubory…"_s))
    , supportOnKofi(pick(language, u"Support on Ko-fi"_s, u"Podpořit na Ko-fi"_s))
    , exportNameDialogTitle(pick(language, u"Name for This Export"_s, u"Název pro tento export"_s))
    , baseNameFieldLabel(pick(language, u"Base Name"_s, u"Základní název"_s))
    , use(pick(language, u"Use"_s, u"Použít"_s))
    , cancel(pick(language, u"Cancel"_s, u"Zrušit"_s))
    , exportNameDialogMessage(pick(
          language, u"Applies only to the files being added right now. The “Base Name” in Settings stays unchanged."_s,
          u"Platí jen pro právě přidávané soubory. „Základní název“ v nastavení zůstane beze změny."_s))
    , doubleClickOpensSettingsSuffix(
          pick(language, u"\n\nDouble-click opens Settings."_s, u"\n\nDvojklik otevře nastavení."_s))
    , interrupt(pick(language, u"Stop"_s, u"Přerušit"_s))
    , settingsHelp(pick(language, u"Settings…"_s, u"Nastavení…"_s))
    , noSavedPresets(pick(language, u"No saved presets yet"_s, u"Zatím žádná uložená varianta"_s))
    , saveCurrentSettingsEllipsis(pick(language, u"Save Current Settings…"_s, u"Uložit aktuální nastavení…"_s))
    , deleteMenuTitle(pick(language, u"Delete"_s, u"Smazat"_s))
    , presetsLabel(pick(language, u"Presets"_s, u"Varianty"_s))
    , presetsHelp(pick(language, u"Saved settings presets — select one to apply it"_s,
                       u"Uložené varianty nastavení — výběrem se použijí"_s))
    , savePresetDialogTitle(pick(language, u"Save Settings Preset"_s, u"Uložit variantu nastavení"_s))
    , presetNameFieldLabel(pick(language, u"Name"_s, u"Název"_s))
    , save(pick(language, u"Save"_s, u"Uložit"_s))
    , savePresetDialogMessage(pick(language,
                                   u"Saves the current settings. The same name overwrites an existing preset."_s,
                                   u"Uloží se aktuální nastavení. Stejný název přepíše existující variantu."_s))
    , summaryModeLossless(pick(language, u"Lossless"_s, u"Lossless"_s))
    , summaryModeLossy(pick(language, u"Lossy"_s, u"Lossy"_s))
    , summaryDestinationCopyAlongside(pick(language, u"Copy alongside"_s, u"Kopie vedle"_s))
    , summaryDestinationOverwriteOriginal(pick(language, u"Overwrite original"_s, u"Přepsat originál"_s))
    , summaryDestinationCustomFolder(pick(language, u"Custom folder"_s, u"Vlastní složka"_s))
    , summaryFormatKeepOriginal(pick(language, u"Keep original"_s, u"Zachovat původní"_s))
    , summaryRenamingKeepNames(pick(language, u"Keep names"_s, u"Ponechat názvy"_s))
    , summaryRenamingCustomNamePlusNumber(pick(language, u"Custom name + number"_s, u"Vlastní název + číslo"_s))
    , summaryRenamingPrefixAndSuffix(pick(language, u"Prefix and suffix"_s, u"Předpona a přípona"_s))
    , summaryResizeShortSideSuffix(pick(language, u"(short side)"_s, u"(kratší strana)"_s))
    , summaryResizeWidthUnit(pick(language, u"width"_s, u"šířka"_s))
    , summaryResizeHeightUnit(pick(language, u"height"_s, u"výška"_s))
    , columnFile(pick(language, u"File"_s, u"Soubor"_s))
    , columnSize(pick(language, u"Size"_s, u"Velikost"_s))
    , columnRatio(pick(language, u"Ratio"_s, u"Poměr"_s))
    , menuOpen(pick(language, u"Open"_s, u"Otevřít"_s))
    , menuShowInFinder(pick(language, u"Show in File Manager"_s, u"Zobrazit ve správci souborů"_s))
    , menuCopyPath(pick(language, u"Copy Path"_s, u"Zkopírovat cestu"_s))
    , menuRemoveFromList(pick(language, u"Remove from List"_s, u"Odebrat ze seznamu"_s))
    , menuClearEntireList(pick(language, u"Clear Entire List"_s, u"Smazat celý seznam"_s))
    , statusWaiting(pick(language, u"Waiting"_s, u"Čeká"_s))
    , statusProcessing(pick(language, u"Processing…"_s, u"Zpracovává se…"_s))
    , statusCancelled(pick(language, u"Cancelled"_s, u"Zrušeno"_s))
    , mode(pick(language, u"Mode"_s, u"Režim"_s))
    , lossless(pick(language, u"Lossless"_s, u"Lossless"_s))
    , lossy(pick(language, u"Lossy"_s, u"Lossy"_s))
    , resize(pick(language, u"Resize"_s, u"Změna velikosti"_s))
    , output(pick(language, u"Output"_s, u"Výstup"_s))
    , copyAlongside(pick(language, u"Copy alongside"_s, u"Kopie vedle"_s))
    , overwriteOriginal(pick(language, u"Overwrite original"_s, u"Přepsat originál"_s))
    , customFolder(pick(language, u"Custom folder"_s, u"Vlastní složka"_s))
    , backupOriginal(pick(language, u"Back up original"_s, u"Zálohovat originál"_s))
    , destinationFolder(pick(language, u"Destination folder"_s, u"Cílová složka"_s))
    , chooseFolderEllipsis(pick(language, u"Choose Folder…"_s, u"Vybrat složku…"_s))
    , outputFormat(pick(language, u"Output format"_s, u"Výstupní formát"_s))
    , keepOriginalFormat(pick(language, u"Keep original"_s, u"Zachovat původní"_s))
    , originalFile(pick(language, u"Original file"_s, u"Původní soubor"_s))
    , keep(pick(language, u"Keep"_s, u"Zachovat"_s))
    , moveToTrash(pick(language, u"Move to Trash"_s, u"Přesunout do koše"_s))
    , renaming(pick(language, u"Renaming"_s, u"Přejmenování"_s))
    , keepNames(pick(language, u"Keep names"_s, u"Ponechat názvy"_s))
    , customNamePlusNumber(pick(language, u"Custom name + number"_s, u"Vlastní název + číslo"_s))
    , prefixAndSuffix(pick(language, u"Prefix and suffix"_s, u"Předpona a přípona"_s))
    , baseName(pick(language, u"Base name"_s, u"Základní název"_s))
    , baseNamePlaceholder(pick(language, u"e.g. product"_s, u"např. produkt"_s))
    , numbering(pick(language, u"Numbering"_s, u"Číslování"_s))
    , noNumber(pick(language, u"no number"_s, u"bez čísla"_s))
    , separatorPickerLabel(pick(language, u"Separator"_s, u"Oddělovač"_s))
    , separatorNone(pick(language, u"None"_s, u"Nic"_s))
    , separatorSpace(pick(language, u"Space"_s, u"Mezera"_s))
    , separatorDash(pick(language, u"Dash"_s, u"Pomlčka"_s))
    , separatorUnderscore(pick(language, u"Underscore"_s, u"Podtržítko"_s))
    , separatorComma(pick(language, u"Comma"_s, u"Čárka"_s))
    , askForNameBeforeExport(pick(language, u"Ask for name before export"_s, u"Zeptat se na název před exportem"_s))
    , prefixSuffixRow(pick(language, u"Prefix / suffix"_s, u"Předpona / přípona"_s))
    , prefixPlaceholder(pick(language, u"Prefix (optional)"_s, u"Předpona (nepovinné)"_s))
    , suffixPlaceholder(pick(language, u"Suffix (optional)"_s, u"Přípona (nepovinné)"_s))
    , prefixSuffixExample(pick(language, u"photo.jpg → prefix-photo.webp, photo-suffix.webp, …"_s,
                               u"foto.jpg → předpona-foto.webp, foto-přípona.webp, …"_s))
    , resizeModeOriginal(pick(language, u"Original"_s, u"Původní"_s))
    , resizeModeMaxLongEdge(pick(language, u"Longest side (max)"_s, u"Nejdelší strana (max)"_s))
    , resizeModeMaxShortEdge(pick(language, u"Shortest side (max)"_s, u"Nejkratší strana (max)"_s))
    , resizeModeMaxWidth(pick(language, u"Width (max)"_s, u"Šířka (max)"_s))
    , resizeModeMaxHeight(pick(language, u"Height (max)"_s, u"Výška (max)"_s))
    , resizeModeExactWidth(pick(language, u"Width (exact)"_s, u"Šířka (přesně)"_s))
    , resizeModeExactHeight(pick(language, u"Height (exact)"_s, u"Výška (přesně)"_s))
    , resizeModePercentage(pick(language, u"Percentage"_s, u"Procenta"_s))
    , resizeValuePlaceholderPixels(pick(language, u"e.g. 2000"_s, u"např. 2000"_s))
    , resizeValuePlaceholderPercent(pick(language, u"e.g. 100"_s, u"např. 100"_s))
    , resizeCaptionMaxLongEdge(pick(language, u"Longest side, max 1–20000 px. Never enlarges a smaller image."_s,
                                    u"Nejdelší strana, max. 1–20000 px. Menší se nezvětší."_s))
    , resizeCaptionMaxShortEdge(pick(language, u"Shortest side, max 1–20000 px. Never enlarges a smaller image."_s,
                                     u"Nejkratší strana, max. 1–20000 px. Menší se nezvětší."_s))
    , resizeCaptionMaxWidth(pick(language, u"Width, max 1–20000 px. Never enlarges a smaller image."_s,
                                 u"Šířka, max. 1–20000 px. Menší se nezvětší."_s))
    , resizeCaptionMaxHeight(pick(language, u"Height, max 1–20000 px. Never enlarges a smaller image."_s,
                                  u"Výška, max. 1–20000 px. Menší se nezvětší."_s))
    , resizeCaptionExactWidth(pick(language, u"Exact width, 1–20000 px. Smaller images are enlarged too."_s,
                                   u"Šířka přesně, 1–20000 px. Menší obrázky se i zvětší."_s))
    , resizeCaptionExactHeight(pick(language, u"Exact height, 1–20000 px. Smaller images are enlarged too."_s,
                                    u"Výška přesně, 1–20000 px. Menší obrázky se i zvětší."_s))
    , resizeCaptionPercentage(pick(language, u"Range 1–1000%. Above 100% enlarges the image."_s,
                                   u"Rozsah 1–1000 %. Nad 100 % se obrázek zvětší."_s))
    , sequenceExamplePlaceholderBase(pick(language, u"product"_s, u"produkt"_s))
{
}

QString Strings::optimizedCount(int64_t count) const
{
    const QString n = QString::number(count);
    if (isEnglish())
        return count == 1 ? u"Optimized 1 image"_s : u"Optimized "_s + n + u" images"_s;
    // Czech takes the singular for one, the paucal for two to four and the
    // genitive plural for everything else; the whole number decides, so 22
    // is "obrázků", not "obrázky".
    QString noun;
    if (count == 1)
        noun = u"obrázek"_s;
    else if (count >= 2 && count <= 4)
        noun = u"obrázky"_s;
    else
        noun = u"obrázků"_s;
    return u"Optimalizováno "_s + n + u' ' + noun;
}

QString Strings::aggregateAdded(const QString& magnitude, const QString& base, const QString& percent) const
{
    if (isEnglish())
        return magnitude + u" of "_s + base + u" added, "_s + percent + u" increase"_s;
    return magnitude + u" z "_s + base + u" přidáno, "_s + percent + u" nárůst"_s;
}

QString Strings::aggregateSaved(const QString& magnitude, const QString& base, const QString& percent) const
{
    if (isEnglish())
        return magnitude + u" of "_s + base + u" saved, "_s + percent + u" decrease"_s;
    return magnitude + u" z "_s + base + u" ušetřeno, "_s + percent + u" úbytek"_s;
}

QString Strings::aggregateNoChange(const QString& base) const
{
    if (isEnglish())
        return u"no size change ("_s + base + u')';
    return u"beze změny velikosti ("_s + base + u')';
}

QString Strings::quality(int64_t value) const
{
    return (isEnglish() ? u"Quality: "_s : u"Kvalita: "_s) + QString::number(value);
}

QString Strings::digitsCount(int64_t digits) const
{
    return QString::number(digits) + (isEnglish() ? u" dig."_s : u" čísl."_s);
}

} // namespace vantro
