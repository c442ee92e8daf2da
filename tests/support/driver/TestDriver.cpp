// A user for a real program start, loaded by Qt as an input-driver plugin
// (QT_QPA_GENERIC_PLUGINS=zvtestdriver:REPORTFILE, its folder on QT_PLUGIN_PATH). Once the main
// window is up and activated it changes a setting (the blocking-window box), presses the
// window's close box and writes to the report file what it did and which question then opens;
// the test takes it from there. The program itself has no hook for this.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGenericPlugin>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {

class Driver : public QObject {
public:
    explicit Driver(QString report) : report_(std::move(report)) {
        timer_.setInterval(20);
        connect(&timer_, &QTimer::timeout, this, [this] { step(); });
        timer_.start();
    }

private:
    void write(const QString& line) {
        QFile f(report_);
        if (f.open(QIODevice::Append)) f.write((line + u'\n').toUtf8());
    }
    static QWidget* mainWindow() {
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget* w : windows)
            if (w->objectName() == QStringLiteral("main")) return w;
        return nullptr;
    }
    void step() {
        QWidget* main = mainWindow();
        if (state_ == 0) {
            // The first activation counts the settings unchanged; the change comes after it.
            if (!main || !main->isVisible() || !main->isActiveWindow()) return;
            auto* box = main->findChild<QCheckBox*>(QStringLiteral("cbSperr"));
            if (!box) return;
            box->click();
            write(QStringLiteral("Speerzeit=%1").arg(box->isChecked() ? 1 : 0));
            state_ = 1;
            // The close box, as the window manager delivers it; the question it asks runs in
            // a loop of its own, so this step ends first.
            QTimer::singleShot(0, main, [main] { main->windowHandle()->close(); });
        } else if (state_ == 1) {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                write(QStringLiteral("question: ") + box->text());
                state_ = 2;
                timer_.stop();
            }
        }
    }

    QString report_;
    QTimer timer_;
    int state_ = 0;
};

class DriverPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "zvtestdriver.json")
public:
    QObject* create(const QString& key, const QString& arguments) override {
        if (key.compare(QStringLiteral("zvtestdriver"), Qt::CaseInsensitive) != 0) return nullptr;
        return new Driver(arguments);
    }
};

} // namespace

#include "TestDriver.moc"
