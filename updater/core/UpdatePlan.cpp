#include "UpdatePlan.h"

#include <QFileInfo>
#include <stdexcept>

#include "FileVersion.h"
#include "InfoFile.h"
#include "Install.h"
#include "Placeholders.h"
#include "SelfUpdate.h"
#include "Versions.h"

FileChoice ChooseFile(const PlanFile& file, bool appliesHere, bool allesNeu) {
    bool outdated = !file.exists;
    if (appliesHere && file.exists) {
        const std::optional<QDateTime> offered = ParseInfoDate(file.date);
        if (!offered)
            throw InfoFileError(QStringLiteral("Das Datum \"%1\" von %2 ist kein gültiges Datum.")
                                    .arg(file.date, file.name));
        outdated = !IsUpToDate(file.versionHere, file.version, file.dateHere, *offered);
    }
    const bool keep = file.marker != u"-";
    return {appliesHere && outdated && keep, appliesHere && (outdated || allesNeu) && keep};
}

void BuildPlan(UpdatePlan& plan, InfoFileReader& reader, const PlanSources& sources) {
    plan.Clear();
    InfoModuleRecord mod;
    while (reader.NextModule(&mod)) {
        const int m = plan.AddModule({mod.name,
                                      mod.text,
                                      mod.description,
                                      mod.history,
                                      false,
                                      false,
                                      0,
                                      mod.fileCount > 0,
                                      {}});
        if (sources.added) sources.added();
        InfoFileRecord record;
        while (reader.NextFile(&record)) {
            DestinationDecoder& ziel = *sources.ziel;
            ziel.DecodeZiel(record.destination);
            const bool applies = ziel.AppliesToSystem;
            plan.AddArchive(record.archive);
            PlanFile file;
            file.name = record.fileName;
            file.version = record.version;
            file.date = record.date;
            file.archive = record.archive;
            file.sizeText = record.size;
            file.marker = record.marker;
            file.service = record.service;
            file.folder = ziel.DecodedPath;
            file.size = ParseInfoSize(record.size);

            const QString local = file.Target();
            Install::RecoverTarget(local, sources.log);
            const QFileInfo here(local);
            // Only a regular file is looked into: a pipe would block, a device never end.
            file.exists = Install::IsRegularFile(local);
            if (!file.exists && here.exists())
                sources.log(
                    QStringLiteral("%1 ist keine gewöhnliche Datei und gilt als nicht vorhanden")
                        .arg(local));
            if (file.exists) {
                file.versionHere = FileVersion::GetFileVersionString(local);
                file.dateHere = here.lastModified();
            }
            const FileChoice choice = ChooseFile(file, applies, sources.allesNeu);
            file.checked = choice.checked;
            file.preselected = choice.preselected;
            if (!applies) continue;
            const bool self = file.checked && SelfUpdate::IsUpdaterRow(file.name);
            plan.AddFile(m, std::move(file));
            if (sources.added) sources.added();
            if (self) {
                plan.selfUpdateModule = m;
                plan.selfUpdateFile = int(plan.Modules()[m].files.size()) - 1;
                return;
            }
        }
        plan.EndModule(m);
    }
}

void UpdatePlan::Clear() {
    modules_.clear();
    archives_.clear();
    total_ = 0;
    selfUpdateModule = selfUpdateFile = -1;
}

int UpdatePlan::AddModule(PlanModule module) {
    module.files.clear();
    module.checked = module.remembered = false;
    module.sizeSum = 0;
    modules_.append(std::move(module));
    return int(modules_.size()) - 1;
}

void UpdatePlan::AddArchive(const QString& name) {
    for (const auto& a : archives_)
        if (a.name == name) return;
    archives_.append({name, 0, 0});
}

void UpdatePlan::AddFile(int module, PlanFile file) {
    AddArchive(file.archive);
    PlanModule& m = modules_[module];
    file.remembered = file.checked;
    if (file.checked) m.sizeSum += file.size;
    m.files.append(std::move(file));
}

void UpdatePlan::EndModule(int module) {
    PlanModule& m = modules_[module];
    if (m.sizeSum <= 0) return;
    m.checked = true;
    moduleClick(module);
}

void UpdatePlan::SetModuleChecked(int module, bool checked) {
    modules_[module].checked = checked;
    moduleClick(module);
}

void UpdatePlan::SetFileChecked(int module, int file, bool checked) {
    PlanModule& m = modules_[module];
    PlanFile& f = m.files[file];
    f.checked = checked;
    if (f.checked == f.remembered) return; // a click that only selected the row
    f.remembered = f.checked;
    if (f.checked) {
        m.sizeSum += f.size;
        if (m.remembered) {
            count(f, true);
        } else {
            // Choosing a file chooses its module, which counts all its checked files.
            m.checked = true;
            moduleClick(module);
        }
    } else {
        m.sizeSum -= f.size;
        if (m.remembered) {
            count(f, false);
            if (m.sizeSum == 0) {
                m.checked = false;
                moduleClick(module);
            }
        }
    }
}

void UpdatePlan::SetAllesNeu(bool on) {
    for (int i = 0; i < modules_.size(); ++i) {
        PlanModule& m = modules_[i];
        if (m.checked) {
            m.checked = false;
            moduleClick(i);
        }
        m.sizeSum = 0;
        for (PlanFile& f : m.files) {
            f.checked = on || f.preselected;
            f.remembered = f.checked;
            if (f.checked) m.sizeSum += f.size;
        }
        m.checked = m.sizeSum > 0;
        moduleClick(i);
    }
}

int UpdatePlan::CheckedFileCount() const {
    int n = 0;
    for (const PlanModule& m : modules_)
        for (const PlanFile& f : m.files)
            n += f.checked ? 1 : 0;
    return n;
}

bool UpdatePlan::ForCheckedFiles(const std::function<void(int module)>& enter,
                                 const std::function<bool(int module, int file)>& visit) const {
    // By index, read afresh each time: a visit may change marks, never the lists themselves.
    for (int m = 0; m < modules_.size(); ++m) {
        if (!modules_[m].checked) continue;
        if (enter) enter(m);
        for (int f = 0; f < modules_[m].files.size(); ++f)
            if (modules_[m].files[f].checked && !visit(m, f)) return false;
    }
    return true;
}

int UpdatePlan::ArchiveCount(const QString& name) const {
    const int i = archiveIndex(name);
    return i < 0 ? 0 : archives_[i].count;
}

void UpdatePlan::RequireArchive(const QString& name) const {
    if (archiveIndex(name) < 0)
        throw std::runtime_error(
            (QStringLiteral("Archiv ") + name + QStringLiteral(" in FileList nicht gefunden"))
                .toStdString());
}

QString UpdatePlan::ModuleSizeText(int module) const {
    const PlanModule& m = modules_[module];
    return m.hasFiles ? FormatKB(m.sizeSum) : QString();
}

QString UpdatePlan::TotalText() const {
    return FormatKB(total_);
}

int UpdatePlan::archiveIndex(const QString& name) const {
    for (int i = 0; i < archives_.size(); ++i)
        if (archives_[i].name == name) return i;
    return -1;
}

void UpdatePlan::moduleClick(int module) {
    PlanModule& m = modules_[module];
    if (m.checked == m.remembered) return;
    m.remembered = m.checked;
    for (const PlanFile& f : m.files)
        if (f.checked) count(f, m.checked);
}

void UpdatePlan::count(const PlanFile& file, bool adding) {
    RequireArchive(file.archive);
    PlanArchive& a = archives_[archiveIndex(file.archive)];
    if (adding) {
        if (a.count++ == 0) {
            a.inTotal = file.size;
            total_ += a.inTotal;
        }
    } else if (a.count > 0 && --a.count == 0) {
        // Files sharing an archive may give different sizes: what came in goes out.
        total_ -= a.inTotal;
        a.inTotal = 0;
    }
}

QString FormatKB(qint64 kb) {
    QString digits = QString::number(kb < 0 ? -kb : kb);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, u'.');
    return (kb < 0 ? QStringLiteral("-") : QString()) + digits + QStringLiteral(" KB");
}
