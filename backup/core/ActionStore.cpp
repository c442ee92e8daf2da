#include "ActionStore.h"

#include <QHash>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <utility>

#include "Allocator.h"
#include "TextFormats.h"

namespace {

const QString Opt = QStringLiteral("Opt");
const QString Global = QStringLiteral("Global");
const QString Actions = QStringLiteral("Actions");

// Key words of the action keys by grid column; column 5 has no key.
const char* const ActionKeys[ActionColumnCount] = {
    "Verz",  "Nach", "Time",  "Count",  "Last", nullptr, "Dateien",
    "Bytes", "Arc",  "Dauer", "Filter", "Hist", "LE",    "p",
};
// Defaults on reading, by column.
const QString ActionDefaults[ActionColumnCount] = {
    {},
    {},
    QStringLiteral("02:00:00"),
    QStringLiteral("5"),
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    QStringLiteral("J-J"),
    {},
    {},
};
// Column widths before a layout was saved, by column.
const int DefaultWidths[ActionColumnCount] = {160, 100, 50, 30, 110, -1, 50,
                                              80,  70,  60, 60, 20,  50, 20};
// The run statistics, in the order they are written.
const int StatisticsColumns[] = {colLast, colDateien, colBytes, colArc, colDauer};

// An action's key name ("Verz12") built in place: a start-up looks up over a million of them.
class Key {
public:
    Key(int col, int n) {
        for (const char* w = ActionKeys[col]; *w; ++w)
            buf_[len_++] = char16_t(*w);
        char digits[12];
        int d = 0;
        for (unsigned v = unsigned(n); d == 0 || v; v /= 10)
            digits[d++] = char('0' + v % 10);
        while (d)
            buf_[len_++] = char16_t(digits[--d]);
    }
    operator QStringView() const { return QStringView(buf_, len_); }

private:
    char16_t buf_[24];
    qsizetype len_ = 0;
};

// A number's decimal text on the stack.
class Digits {
public:
    explicit Digits(qsizetype n) {
        for (; n || at_ == std::size(buf_); n /= 10)
            buf_[--at_] = char16_t(u'0' + n % 10);
    }
    operator QStringView() const { return QStringView(buf_ + at_, buf_ + std::size(buf_)); }

private:
    char16_t buf_[20];
    size_t at_ = std::size(buf_);
};

// The column and number of an action key ("verz12": colVerz, 12), as the keys Key builds are
// found: the key word without regard to case, the number in decimal without leading zeros.
std::optional<std::pair<int, int>> actionKey(QStringView name) {
    qsizetype digits = name.size();
    while (digits > 0 && name[digits - 1] >= u'0' && name[digits - 1] <= u'9')
        --digits;
    if (digits == name.size() || name[digits] == u'0' || name.size() - digits > 9)
        return std::nullopt;
    int n = 0;
    for (QChar d : name.sliced(digits))
        n = n * 10 + (d.unicode() - u'0');
    const QStringView word = name.first(digits);
    // An ASCII word is compared letter by letter, any other as Qt folds it (which maps some
    // letters outside ASCII onto ASCII ones).
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 0x20) : c; };
    const bool ascii =
        std::all_of(word.begin(), word.end(), [](QChar c) { return c.unicode() < 0x80; });
    static const auto lengths = [] {
        std::array<qsizetype, ActionColumnCount> l{};
        for (int c = 0; c < ActionColumnCount; ++c)
            l[size_t(c)] = ActionKeys[c] ? qsizetype(std::strlen(ActionKeys[c])) : -1;
        return l;
    }();
    for (int c = 0; c < ActionColumnCount; ++c) {
        if (lengths[size_t(c)] != word.size()) continue;
        const char* w = ActionKeys[c];
        const bool same = ascii ? std::equal(word.begin(), word.end(), w,
                                             [&](QChar a, char b) {
                                                 return lower(a.unicode()) == lower(char16_t(b));
                                             })
                                : word.compare(QLatin1StringView(w), Qt::CaseInsensitive) == 0;
        if (same) return std::pair{c, n};
    }
    return std::nullopt;
}

// Strings cut from a few large blocks: a start-up reads hundreds of thousands of values, each
// else an allocation of its own. A block lives as long as any of its strings; a string changed
// later is copied away from it (the block is shared) or, once it is the block's last, grows
// into room no other string uses any more.
class StringBlocks {
public:
    QString make(QStringView s) {
        if (s.isEmpty()) return s.toString();
        const qsizetype need = s.size() + 1; // with the terminator every QString keeps
        QString::DataPointer& b = block_.data_ptr();
        if (!b.d || used_ + need > block_.size()) {
            // Each block twice the last, up to 8 MiB (on huge pages): a file of a few actions
            // takes little.
            const qsizetype size = qMax(need, qMin<qsizetype>(block_.size() * 2 + 2048, 1 << 22));
            block_ = QString(size, Qt::Uninitialized);
            Allocator::AdviseLargeBuffer(block_.data(), size_t(size) * sizeof(QChar), false);
            used_ = 0;
        }
        QString::DataPointer part = block_.data_ptr(); // one more reference to the block
        part.ptr += used_;
        part.size = s.size();
        std::memcpy(part.ptr, s.utf16(), size_t(s.size()) * sizeof(char16_t));
        part.ptr[s.size()] = 0;
        used_ += need;
        return QString(std::move(part));
    }

private:
    QString block_;
    qsizetype used_ = 0;
};

QString widthKey(int col) {
    return QStringLiteral("C") + QString::number(col);
}

QTime readTime(const IniFile& ini, const QString& section, const QString& name, QTime def) {
    const auto t = TextFormats::ParseTime(ini.ReadString(section, name, QString()));
    return t ? *t : def;
}

} // namespace

ActionStore::ActionStore(QString fileName) : ini_(std::move(fileName)) {
    // The file holds archive passwords in plain text: only its owner may read it.
    ini_.SetOwnerOnly(true);
}

void ActionStore::Open() {
    ini_.BeginUpdate();
    const QString problem = ini_.ReadProblem();
    if (problem.isEmpty()) return;
    ini_.Rollback();
    throw std::runtime_error(QStringLiteral("Die Einstellungsdatei %1 kann nicht gelesen werden "
                                            "(%2). Sie bleibt unverändert.")
                                 .arg(ini_.FileName(), problem)
                                 .toStdString());
}

void ActionStore::Commit() {
    ini_.Commit();
}

StoredSettings ActionStore::ReadSettings() const {
    StoredSettings s;
    s.Lang = ini_.ReadInteger(Opt, QStringLiteral("lang"), 0);
    const int version = ini_.ReadInteger(Global, QStringLiteral("iv"), 1);
    s.Blocking.From = readTime(ini_, Global, QStringLiteral("SperrVon"), QTime(6, 0));
    s.Blocking.To = readTime(ini_, Global, QStringLiteral("SperrBis"), QTime(23, 0));
    s.Blocking.On = ini_.ReadBool(Global, QStringLiteral("Speerzeit"), true);
    // Old files kept the end of the blocking window at two in the morning.
    if (TextFormats::FormatTime(s.Blocking.To) == QStringLiteral("02:00:00") && version < 2)
        s.Blocking.To = QTime(23, 0);

    // One pass over the section. The actions are those numbered from 1 up to the first
    // without a source folder; one numbered far beyond those read so far (a file in another
    // order, or a stray key) waits apart, so a stray number makes no room for all below it.
    BackupAction defaults;
    for (int c = 0; c < ActionColumnCount; ++c)
        defaults[c] = ActionDefaults[c];
    QHash<int, BackupAction> apart;
    const auto cellsOf = [&](int n) -> BackupAction& {
        constexpr int Ahead = 64;
        if (n > s.Actions.size() + Ahead) {
            const auto it = apart.find(n);
            return it != apart.end() ? *it : *apart.insert(n, defaults);
        }
        while (s.Actions.size() < n) {
            const auto it = apart.isEmpty() ? apart.end() : apart.find(int(s.Actions.size()) + 1);
            s.Actions.append(it != apart.end() ? std::move(*it) : defaults);
            if (it != apart.end()) apart.erase(it);
        }
        return s.Actions[n - 1];
    };
    // Room for the actions as the program writes them, thirteen keys each. They are in place
    // before the keys are read, so a large section is read on several threads, each filling
    // the cells of the keys in its stretch of lines; no two keys name the same cell (the first
    // of twins is the one read). Keys of actions beyond that room are taken afterwards.
    const qsizetype keyLines = ini_.KeyCountAtMost(Actions);
    const qsizetype expected = keyLines / (ActionColumnCount - 1) + 1;
    s.Actions.reserve(expected);
    Allocator::AdviseLargeBuffer(s.Actions.data(), size_t(expected) * sizeof(BackupAction));
    s.Actions.resize(expected, defaults);
    BackupAction* const room = s.Actions.data();
    // Many actions share a value (a time, a filter, the counts); they share its string too.
    // Starting with the defaults, which a cell already holds: a cell given the string it holds
    // is left alone (no reference counted up and down).
    struct Part {
        std::array<QString, ActionColumnCount> last;
        StringBlocks strings;
        std::vector<std::pair<std::pair<int, int>, QString>> beyond;
    };
    constexpr int MaxParts = 8;
    std::array<Part, MaxParts> parts;
    for (Part& part : parts)
        for (int c = 0; c < ActionColumnCount; ++c)
            part.last[size_t(c)] = ActionDefaults[c];
    const int used =
        ini_.ForEachKeyInParts(Actions, MaxParts, [&](int p, QStringView name, QStringView value) {
            const auto key = actionKey(name);
            // Each action up to n needs a folder line of its own: a number beyond the section's
            // lines belongs to no action, and keys a little ahead of each other must not make room
            // for all actions up to it.
            if (!key || key->second > keyLines) return;
            Part& part = parts[size_t(p)];
            QString& kept = part.last[size_t(key->first)];
            if (kept != value || kept.isNull()) kept = part.strings.make(value);
            if (key->second > expected) {
                part.beyond.push_back({*key, kept});
                return;
            }
            QString& cell = room[key->second - 1][key->first];
            if (cell.data_ptr().data() != kept.data_ptr().data() || cell.size() != kept.size())
                cell = kept; // the very string is left; a null one differs from an empty one here
        });
    for (int p = 0; p < used; ++p)
        for (auto& [key, value] : parts[size_t(p)].beyond)
            cellsOf(key.second)[key.first] = std::move(value);
    while (!apart.isEmpty() && apart.contains(int(s.Actions.size()) + 1))
        s.Actions.append(apart.take(int(s.Actions.size()) + 1));
    qsizetype count = 0;
    while (count < s.Actions.size() && !s.Actions[count][colVerz].isEmpty())
        ++count;
    s.Actions.resize(count);
    for (qsizetype i = 0; i < count; ++i)
        s.Actions[i][colActionNumber] = parts[0].strings.make(Digits(i + 1));
    return s;
}

WindowLayout ActionStore::ReadLayout(QSize screen, QSize window) const {
    WindowLayout l;
    l.Lang = ini_.ReadInteger(Opt, QStringLiteral("lang"), 0);
    l.Left = ini_.ReadInteger(Opt, QStringLiteral("Left"), screen.width() / 2 - window.width() / 2);
    l.Top = ini_.ReadInteger(Opt, QStringLiteral("Top"), screen.height() / 2 - window.height() / 2);
    l.Width = ini_.ReadInteger(Opt, QStringLiteral("Width"), window.width());
    l.Height = ini_.ReadInteger(Opt, QStringLiteral("Height"), window.height());
    l.Left = qMin(qMax(l.Left, 0), screen.width() - 10);
    l.Top = qMin(qMax(l.Top, 0), screen.height() - 10);
    for (int c = 0; c < ActionColumnCount; ++c)
        l.ColWidths[size_t(c)] =
            c == colActionNumber ? -1 : ini_.ReadInteger(Opt, widthKey(c), DefaultWidths[c]);
    return l;
}

void ActionStore::PutFull(const BlockingWindow& blocking, QList<BackupAction>& actions) {
    ini_.WriteString(Global, QStringLiteral("SperrVon"), TextFormats::FormatTime(blocking.From));
    ini_.WriteString(Global, QStringLiteral("SperrBis"), TextFormats::FormatTime(blocking.To));
    ini_.WriteBool(Global, QStringLiteral("Speerzeit"), blocking.On);
    ini_.WriteInteger(Global, QStringLiteral("IV"), 2);
    // Every column but the number, in file order.
    static const auto written = [] {
        std::array<int, ActionColumnCount - 1> w{};
        for (int c = 0, k = 0; c < ActionColumnCount; ++c)
            if (c != colActionNumber) w[size_t(k++)] = c;
        return w;
    }();
    const qsizetype perAction = qsizetype(written.size());
    const QList<BackupAction>& cells = actions;
    ini_.WriteStrings(Actions, actions.size() * perAction,
                      [&](qsizetype i, IniFile::KeyRoom& room) {
                          const int c = written[size_t(i % perAction)];
                          const Key key(c, int(i / perAction) + 1);
                          const QStringView name = key;
                          std::copy(name.utf16(), name.utf16() + name.size(), room.begin());
                          return std::pair{QStringView(room.data(), name.size()),
                                           QStringView(cells[i / perAction][c])};
                      });
    for (qsizetype i = 0; i < actions.size(); ++i) {
        const int n = int(i) + 1;
        // Mostly the number it already has.
        QString& number = actions[i][colActionNumber];
        if (const Digits d(n); number != QStringView(d)) number = QStringView(d).toString();
    }
    ini_.WriteString(Actions, Key(colVerz, int(actions.size()) + 1), QStringView());
}

void ActionStore::PutLayout(const WindowLayout& layout) {
    ini_.WriteInteger(Opt, QStringLiteral("lang"), layout.Lang);
    ini_.WriteInteger(Opt, QStringLiteral("Left"), layout.Left);
    ini_.WriteInteger(Opt, QStringLiteral("Top"), layout.Top);
    ini_.WriteInteger(Opt, QStringLiteral("Width"), layout.Width);
    ini_.WriteInteger(Opt, QStringLiteral("Height"), layout.Height);
    for (int c = 0; c < ActionColumnCount; ++c)
        if (c != colActionNumber) ini_.WriteInteger(Opt, widthKey(c), layout.ColWidths[size_t(c)]);
}

void ActionStore::PutStatistics(const QList<BackupAction>& actions) {
    for (const BackupAction& a : actions) {
        // A row added since the last full save has no keys yet.
        const int n = a.Number();
        if (n == 0) continue;
        for (int c : StatisticsColumns)
            ini_.WriteString(Actions, Key(c, n), a[c]);
    }
}
