#pragma once
// The program's bilingual texts. Language 0 is German, 1 English; a text is read at the moment
// it is produced, so lines already in the log keep the language they were written in.
#include <QString>
#include <array>

extern unsigned char Language;

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

// The text of a pair in the current language.
QString Tx(TextId index);
// The German or the English text by the current language; for the windows' own captions.
QString ByLanguage(const char* german, const char* english);
// The question asked before changed settings are thrown away.
QString DiscardChangesText();
