#include "lang.h"

// Stored exactly as shipped, blanks and spelling included: log lines and stored texts rely on it.
const std::array<TextPair, TextPairCount> TextTable = {{
    {"Datei", "File"},
    {"Größe", "Size"},
    {"Datum/Zeit", "Date/Time"},
    {"Kompr. Gr.", "Compr. Size"},
    {"unKompr. Gr.", "unCompr. Size"},
    {"Pfad", "Path"},
    {"Benutzer Abmeldung oder Windows Shutdown", "user logg off or Windows shut down"},
    {"Soll Zorvane2 wirklich beendet werden?", "Realy close Zorvane2"},
    {"Bereit", "Ready"},
    {"ZORVANE2.HLP", "ZORVANE2e.HLP"},
    {"Zorvane gestartet ", "Zorvane startet "},
    {"Automatik nicht aktiv (Uhr oben nicht eingedrückt), siehe Onlienhilfe(F1) Parameter Auto",
     "Automatic not activ (Clock not pressed), see Onlienhelp(F1) Parameter Auto"},
    {"Ein Eintrag für das Verzeichnis", "entry for the directory"},
    {"existsiert bereits!", "already exists!"},
    {"Ein Sicherung mit dem Namen", "Backup with Name"},
    {"Soll die Sicherung von", "realy delete Backup of"},
    {"nach", "to"},
    {"wirklich gelöscht werden?", "?"},
    {"Fehler beim hinzufügen von ", "Error adding "},
    {"!! Fehler beim schreiben in ", "!! Error writing to "},
    {", Festplatte voll?", ", Harddisk full?"},
    {"!! Überspringe ", "!! Drop "},
    {", Fehler:", ", Error:"},
    {" unbekannte Filterart", " unknown Filter"},
    {"Aktion durch Benutzer abgebrochen", "Aborted from user"},
    {"Dateien", "Files"},
    {"mit", "with"},
    {"komprimiert zu", "compressed to"},
    {"Automatisch", "Automatic"},
    {"Manuell, einzeln", "Manually, single"},
    {"Manuell, alle", "Manually, all"},
    {"Beginne Backup von", "Start Backup of"},
    {"von", "of"},
    {"abgebrochen", "aborted"},
    {"abgeschlossen", "completed"},
    {"Zu Sicherndes Verzeichnis", "Directory to backup"},
    {"Zorvane wird beendet", "zorvane is shutting down"},
    {"bei Löschversuch", "trying to delete"},
    {"bei Umbenennen", "trying to rename"},
    {"Sperrzeit aktiv", "blocking Time activ"},
    {"Warte auf Backupzeit", "waiting for Backuptime"},
    {"Laufwerk", "Drive"},
    {"nicht gefunden", "not found"},
    {"Fehler bei Backup von", "error during backup"},
    {"Programm beenden und Internet Update starten?", "End Programm and start Internet Update?"},
    {"Entpacke", "unpack"},
    {"Backup läuft", "Backup running"},
}};

QString TextLanguage::Tx(TextId index) const {
    return QString::fromUtf8(TextTable[size_t(index)][id_ == German ? 0 : 1]);
}

QString TextLanguage::ByLanguage(const char* german, const char* english) const {
    return QString::fromUtf8(id_ == German ? german : english);
}

QString TextLanguage::DiscardChangesText() const {
    return id_ != German ? QStringLiteral("Discard settings changes?")
                         : QStringLiteral("Sollen die geänderten Einstellungen verworfen werden?");
}
