// The device list: address parsing, queue rebuilding, and the dialog's normal
// and retry modes, answered through the dialog's modal runner.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <functional>
#include <optional>

#include "ui/AddressLists.h"
#include "ui/DeviceListDialog.h"
#include "ui/UserPrompts.h"

namespace {

struct ParseCase {
    const char* name;
    const char* text;
    AddressList expected;
};

class AddressParsing : public ::testing::TestWithParam<ParseCase> {};

TEST_P(AddressParsing, QueuesTheUsableAddressesInOrder) {
    EXPECT_EQ(parseAddressList(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AddressParsing,
    ::testing::Values(
        // Duplicate, zero, letters, and 65548 reducing to an already queued 12.
        ParseCase{"FiveLines", "12, 7\r\n12\r\n0\r\nabc\r\n65548", {12, 7}},
        ParseCase{"DelimiterRuns", "\r\n\r\n 5,,6 \r\n\r\n", {5, 6}}, ParseCase{"Empty", "", {}},
        ParseCase{"OnlyDelimiters", "\t, \r\n", {}},
        ParseCase{"RetryLinesReadBack", "5\r\n9\r\n-25536\r\n", {5, 9, 40000}},
        ParseCase{"LowSixteenBits", "65537 -1 65536", {1, 65535}},
        ParseCase{"AtoiStopsAtOtherCharacters", "12abc +13 x14 -0", {12, 13}},
        ParseCase{"TabsAndLoneLineFeeds", "1\t2\n3\r4", {1, 2, 3, 4}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AddressParsing, HugeNumberStaysInSixteenBits) {
    // Any 16-bit value is acceptable; it must simply not crash or overflow.
    const AddressList list = parseAddressList("123456789012345678901234567890 3");
    ASSERT_GE(list.size(), 1u);
    EXPECT_EQ(list.back(), 3);
}

// Answers each modal dialog with a test's function instead of a person.
class AnsweringPrompts : public UserPrompts {
  public:
    std::function<void(DeviceListDialog&)> answer;
    void runModal(QDialog& dialog) override {
        auto* list = qobject_cast<DeviceListDialog*>(&dialog);
        ASSERT_NE(list, nullptr);
        if (answer) answer(*list);
    }
};

class DeviceListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pendingQueue().clear();
        failedList().clear();
        setUserPrompts(&prompts_);
    }
    void TearDown() override {
        setUserPrompts(nullptr);
        pendingQueue().clear();
        failedList().clear();
    }
    // Answers the next dialog: records what it showed, types text (if any) into
    // the edit, then presses Go or Abort.
    void answer(bool go, std::optional<QString> text = std::nullopt) {
        prompts_.answer = [this, go, text](DeviceListDialog& dialog) {
            caption = dialog.windowTitle();
            shownText = dialog.addressEdit()->toPlainText();
            memberText = dialog.addressText;
            failedWhileOpen = failedList();
            if (text) dialog.addressEdit()->setPlainText(*text);
            (go ? dialog.goButton() : dialog.abortButton())->click();
        };
    }
    AnsweringPrompts prompts_;
    QString caption, shownText, memberText;
    AddressList failedWhileOpen;
};

TEST_F(DeviceListTest, GoQueuesTheTextAndForgetsEarlierFailures) {
    pendingQueue() = {99};
    failedList() = {42};  // a single failure: normal mode
    answer(true, "12, 7\n12\n0\nabc\n65548");
    EXPECT_TRUE(DeviceListDialog::runAndQueue(nullptr));
    EXPECT_EQ(caption, "Flash Address List");
    EXPECT_EQ(shownText, "");
    EXPECT_EQ(failedWhileOpen, AddressList{42});
    EXPECT_EQ(pendingQueue(), (AddressList{12, 7}));
    EXPECT_TRUE(failedList().empty());
}

TEST_F(DeviceListTest, EmptyTextEmptiesBothLists) {
    pendingQueue() = {3, 4};
    failedList() = {8};
    answer(true);
    EXPECT_TRUE(DeviceListDialog::runAndQueue(nullptr));
    EXPECT_TRUE(pendingQueue().empty());
    EXPECT_TRUE(failedList().empty());
}

TEST_F(DeviceListTest, AbortInNormalModeChangesNothing) {
    pendingQueue() = {3, 4};
    failedList() = {8};
    answer(false, "5\n6");
    EXPECT_FALSE(DeviceListDialog::runAndQueue(nullptr));
    EXPECT_EQ(pendingQueue(), (AddressList{3, 4}));
    EXPECT_EQ(failedList(), AddressList{8});
}

TEST_F(DeviceListTest, RetryModeListsFailuresAsSignedLines) {
    failedList() = {5, 9, 40000};
    answer(true);
    EXPECT_TRUE(DeviceListDialog::runAndQueue(nullptr));
    EXPECT_EQ(caption, "Retry 3 Failed Devices...");
    EXPECT_EQ(memberText, "5\r\n9\r\n-25536\r\n");
    EXPECT_EQ(shownText, "5\n9\n-25536\n");
    EXPECT_TRUE(failedWhileOpen.empty());
    EXPECT_EQ(pendingQueue(), (AddressList{5, 9, 40000}));
    EXPECT_TRUE(failedList().empty());
}

TEST_F(DeviceListTest, AbortInRetryModeDropsTheFailures) {
    pendingQueue() = {};
    failedList() = {5, 9};
    answer(false);
    EXPECT_FALSE(DeviceListDialog::runAndQueue(nullptr));
    EXPECT_EQ(caption, "Retry 2 Failed Devices...");
    EXPECT_TRUE(pendingQueue().empty());
    EXPECT_TRUE(failedList().empty());
}

TEST_F(DeviceListTest, EditingTheRetryListQueuesTheEditedText) {
    failedList() = {5, 9};
    answer(true, "9\n65535");
    EXPECT_TRUE(DeviceListDialog::runAndQueue(nullptr));
    EXPECT_EQ(pendingQueue(), (AddressList{9, 65535}));
}

TEST_F(DeviceListTest, TypingAcceptsOnlyDigitsAndLineBreaks) {
    DeviceListDialog dialog(nullptr);
    dialog.initDialog();
    QPlainTextEdit* edit = dialog.addressEdit();
    auto type = [&](int key, const QString& text) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(edit, &press);
    };
    type(Qt::Key_1, "1");
    type(Qt::Key_A, "a");
    type(Qt::Key_Minus, "-");
    type(Qt::Key_Space, " ");
    type(Qt::Key_Comma, ",");
    type(Qt::Key_2, "2");
    type(Qt::Key_Return, "\r");
    type(Qt::Key_3, "3");
    EXPECT_EQ(edit->toPlainText(), "12\n3");
    dialog.goButton()->click();
    EXPECT_EQ(dialog.addressText, "12\r\n3");
}

TEST_F(DeviceListTest, TemplateGeometryAndTexts) {
    DeviceListDialog dialog(nullptr);
    EXPECT_EQ(dialog.size(), QSize(225, 341));
    EXPECT_EQ(dialog.addressEdit()->property("controlId").toInt(), 1022);
    EXPECT_EQ(dialog.goButton()->text(), "Go");
    EXPECT_TRUE(dialog.goButton()->isDefault());
    EXPECT_EQ(dialog.abortButton()->text(), "Abort");
    EXPECT_TRUE(dialog.addressText.isEmpty());
}

}  // namespace
