#include "Selection.h"

#include <stdexcept>

void UpdateSelection::Clear() {
    modules_.clear();
    archives_.clear();
    total_ = 0;
}

int UpdateSelection::AddModule(bool hasFiles) {
    SelectionModule m;
    m.hasFiles = hasFiles;
    modules_.append(m);
    return int(modules_.size()) - 1;
}

void UpdateSelection::AddArchive(const QString& name) {
    for (const auto& a : archives_)
        if (a.name == name) return;
    archives_.append({name, 0, 0});
}

void UpdateSelection::AddFile(int module, const QString& archive, qint64 size, bool checked,
                              bool preselected) {
    AddArchive(archive);
    SelectionModule& m = modules_[module];
    m.files.append({archive, size, checked, checked, preselected});
    if (checked) m.sizeSum += size;
}

void UpdateSelection::EndModule(int module) {
    SelectionModule& m = modules_[module];
    if (m.sizeSum <= 0) return;
    m.checked = true;
    moduleClick(module);
}

void UpdateSelection::SetModuleChecked(int module, bool checked) {
    modules_[module].checked = checked;
    moduleClick(module);
}

void UpdateSelection::SetFileChecked(int module, int file, bool checked) {
    SelectionModule& m = modules_[module];
    SelectionFile& f = m.files[file];
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

void UpdateSelection::SetAllesNeu(bool on) {
    for (int i = 0; i < modules_.size(); ++i) {
        SelectionModule& m = modules_[i];
        if (m.checked) {
            m.checked = false;
            moduleClick(i);
        }
        m.sizeSum = 0;
        for (SelectionFile& f : m.files) {
            f.checked = on || f.preselected;
            f.remembered = f.checked;
            if (f.checked) m.sizeSum += f.size;
        }
        m.checked = m.sizeSum > 0;
        moduleClick(i);
    }
}

int UpdateSelection::ArchiveCount(const QString& name) const {
    const int i = archiveIndex(name);
    return i < 0 ? 0 : archives_[i].count;
}

void UpdateSelection::RequireArchive(const QString& name) const {
    if (archiveIndex(name) < 0)
        throw std::runtime_error(
            (QStringLiteral("Archiv ") + name + QStringLiteral(" in FileList nicht gefunden"))
                .toStdString());
}

QString UpdateSelection::ModuleSizeText(int module) const {
    const SelectionModule& m = modules_[module];
    return m.hasFiles ? FormatKB(m.sizeSum) : QString();
}

QString UpdateSelection::TotalText() const {
    return FormatKB(total_);
}

int UpdateSelection::archiveIndex(const QString& name) const {
    for (int i = 0; i < archives_.size(); ++i)
        if (archives_[i].name == name) return i;
    return -1;
}

void UpdateSelection::moduleClick(int module) {
    SelectionModule& m = modules_[module];
    if (m.checked == m.remembered) return;
    m.remembered = m.checked;
    for (const SelectionFile& f : m.files)
        if (f.checked) count(f, m.checked);
}

void UpdateSelection::count(const SelectionFile& file, bool adding) {
    RequireArchive(file.archive);
    SelectionArchive& a = archives_[archiveIndex(file.archive)];
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
