// On a small screen with a large font (a laptop at 150 %) the main window and every dialog keep
// their frames inside the screen's free area, however large the stored layout was.
#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include "About.h"
#include "DesignScale.h"
#include "WindowFixture.h"
#include "fCount.h"
#include "fTime.h"
#include "filterform.h"
#include "fzPw.h"
#include "histform.h"
#include "uRestore.h"

namespace {

class SmallScreen : public WindowTest {
protected:
    static QRect Area() { return QGuiApplication::primaryScreen()->availableGeometry(); }
    static testing::AssertionResult Inside(QWidget* w) {
        if (!QTest::qWaitForWindowExposed(w))
            return testing::AssertionFailure() << w->objectName().toStdString() << " not shown";
        if (Area().contains(w->frameGeometry())) return testing::AssertionSuccess();
        return testing::AssertionFailure() << w->objectName().toStdString() << " at "
                                           << w->frameGeometry() << " outside " << Area();
    }
};

TEST_F(SmallScreen, TheMainWindowAndEveryDialogStayInsideTheScreen) {
    // The layout of a larger desktop: too large here, and near the bottom right corner.
    t.Write(QStringLiteral("config/Zorvane2.ini"),
            "[Opt]\r\nLeft=600\r\nTop=500\r\nWidth=1130\r\nHeight=585\r\n");
    Tmain& w = Start();
    ASSERT_GT(w.width(), Area().width());
    w.show();
    EXPECT_TRUE(Inside(&w));

    const QList<QWidget*> dialogs{
        w.TimeWin, w.countWin, w.filterWin, w.fHist, w.fPw, w.AboutBox, w.findChild<TfRestore*>()};
    // Below the main window at the screen's top a centred dialog would reach above it; the
    // window comes back from the tray to where it was put meanwhile.
    for (QPoint at : {Area().topLeft(), Area().bottomRight()}) {
        w.hide();
        w.move(at);
        w.show();
        ASSERT_TRUE(Inside(&w));
        for (QWidget* d : dialogs) {
            d->show();
            EXPECT_TRUE(Inside(d));
            d->hide();
        }
    }
}

TEST_F(SmallScreen, TheAboutBoxIsCentredOnTheScreenTheEditorsOnTheMainWindow) {
    Tmain& w = Start();
    w.resize(DesignScale::Px(300), DesignScale::Px(200));
    w.move(Area().topLeft());
    w.show();
    ASSERT_TRUE(Inside(&w));
    const auto near = [](QPoint a, QPoint b) { return (a - b).manhattanLength() <= 2; };
    w.AboutBox->show();
    ASSERT_TRUE(Inside(w.AboutBox));
    EXPECT_TRUE(near(w.AboutBox->frameGeometry().center(), Area().center()))
        << w.AboutBox->frameGeometry();
    w.AboutBox->hide();
    for (QWidget* d : std::initializer_list<QWidget*>{w.TimeWin, w.countWin}) {
        d->show();
        ASSERT_TRUE(Inside(d));
        EXPECT_TRUE(near(d->frameGeometry().center(), w.frameGeometry().center()))
            << d->frameGeometry() << " on " << w.frameGeometry();
        d->hide();
    }
}

} // namespace
