// The Qt notifier: message boxes on the UI thread, also for calls from
// other threads, which wait for the answer.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <atomic>
#include <thread>

#include "GuiTestSupport.h"
#include "ui/QtNotifier.h"

using namespace harvix;

namespace {

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    bool onUiThread = false;
};

// Answers the next message box by clicking `answer`, recording what it showed.
[[nodiscard]] Watch AnswerNextBox(QMessageBox::StandardButton answer, SeenBox& seen) {
    return WhenShown<QMessageBox>([answer, &seen](QMessageBox* box) {
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* button : box->buttons()) {
            seen.buttons.append(button->text());
        }
        seen.onUiThread = QThread::currentThread() == QApplication::instance()->thread();
        QTest::mouseClick(box->button(answer), Qt::LeftButton);
    });
}

}  // namespace

TEST(QtNotifier, ShowsABoxOnTheUiThreadAndReturnsTheAnswer) {
    ScopedLanguage keep;
    theLanguage().OK = "Gut";
    QtNotifier notifier;
    SeenBox seen;
    const Watch answering = AnswerNextBox(QMessageBox::Ok, seen);
    EXPECT_EQ(notifier.show("Harvix", "Something failed.", MessageIcon::Error, MessageButtons::Ok),
              MessageResult::Ok);
    EXPECT_EQ(seen.title, QStringLiteral("Harvix"));
    EXPECT_EQ(seen.text, QStringLiteral("Something failed."));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("Gut")});

    SeenBox question;
    const Watch answeringQuestion = AnswerNextBox(QMessageBox::Yes, question);
    EXPECT_EQ(notifier.show("Harvix", "Sure?", MessageIcon::Warning, MessageButtons::YesNo),
              MessageResult::Yes);
    EXPECT_EQ(question.icon, QMessageBox::Warning);
    EXPECT_EQ(question.buttons.size(), 2);
}

TEST(QtNotifier, EscapeGivesTheCautiousAnswer) {
    QtNotifier notifier;
    Watch escape =
        WhenShown<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_EQ(notifier.show("Harvix", "Sure?", MessageIcon::Question, MessageButtons::YesNo),
              MessageResult::No);
    escape = WhenShown<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_EQ(notifier.show("Harvix", "Save?", MessageIcon::Question, MessageButtons::YesNoCancel),
              MessageResult::Cancel);
}

TEST(QtNotifier, CallFromAnotherThreadWaitsForTheAnswerGivenOnTheUiThread) {
    QtNotifier notifier;
    SeenBox seen;
    const Watch answering = AnswerNextBox(QMessageBox::No, seen);
    std::atomic<bool> done{false};
    MessageResult result = MessageResult::Ok;
    std::thread comb([&] {
        result = notifier.show("Harvix", "From the comb thread", MessageIcon::Question,
                               MessageButtons::YesNo);
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
    comb.join();
    EXPECT_EQ(result, MessageResult::No);
    EXPECT_TRUE(seen.onUiThread);
    EXPECT_EQ(seen.text, QStringLiteral("From the comb thread"));
}

TEST(QtNotifier, InstalledAsTheCoreNotifier) {
    QtNotifier notifier;
    INotifier* previous = setNotifier(&notifier);
    SeenBox seen;
    const Watch answering = AnswerNextBox(QMessageBox::Ok, seen);
    EXPECT_EQ(showMessage("Core message", MessageIcon::Information), MessageResult::Ok);
    setNotifier(previous);
    EXPECT_EQ(seen.text, QStringLiteral("Core message"));
    EXPECT_EQ(seen.icon, QMessageBox::Information);
}
