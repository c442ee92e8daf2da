#pragma once
// The program's bilingual texts, German and English.
#include <QString>
#include <array>

using TextPair = std::array<const char*, 2>;
inline constexpr int TextPairCount = 47;
extern const std::array<TextPair, TextPairCount> TextTable;

// Positions in the table, named after the German text.
enum TextId : int {
    txDatei = 0,
    txGroesse,
    txDatumZeit,
    txKomprGr,
    txUnKomprGr,
    txPfad,
    txBenutzerAbmeldung,
    txWirklichBeenden,
    txBereit,
    txHilfeDatei,
    txGestartet,
    txAutomatikNichtAktiv,
    txEintragFuerVerz,
    txExistiertBereits,
    txSicherungMitNamen,
    txSollSicherungVon,
    txNach,
    txWirklichLoeschen,
    txFehlerHinzufuegen,
    txFehlerSchreiben,
    txFestplatteVoll,
    txUeberspringe,
    txFehler,
    txUnbekannteFilterart,
    txAbgebrochenDurchBenutzer,
    txDateien,
    txMit,
    txKomprimiertZu,
    txAutomatisch,
    txManuellEinzeln,
    txManuellAlle,
    txBeginneBackup,
    txVon,
    txAbgebrochen,
    txAbgeschlossen,
    txZuSicherndesVerz,
    txWirdBeendet,
    txBeiLoeschversuch,
    txBeiUmbenennen,
    txSperrzeitAktiv,
    txWarteAufBackupzeit,
    txLaufwerk,
    txNichtGefunden,
    txFehlerBeiBackup,
    txInternetUpdate,
    txEntpacke,
    txBackupLaeuft,
};
static_assert(txBackupLaeuft == TextPairCount - 1);

// The language the program's texts are produced in. The main window owns it and sets it from
// its language list; its dialogs and runs hold a reference and read it whenever they produce a
// text, so lines already in the log keep the language they were written in.
class TextLanguage {
public:
    enum Id : unsigned char { German = 0, English = 1 };
    TextLanguage() = default;
    explicit TextLanguage(Id id) : id_(id) {}
    Id Current() const { return id_; }
    void Set(Id id) { id_ = id; }

    // The text of a pair.
    QString Tx(TextId index) const;
    // The German or the English text; for the windows' own captions.
    QString ByLanguage(const char* german, const char* english) const;
    // The question asked before changed settings are thrown away.
    QString DiscardChangesText() const;

private:
    Id id_ = German;
};
