// The device list: address parsing, queue rebuilding, and the dialog's normal and
// retry modes, answered through the modal runner.
#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>

#include "WindowTestSupport.h"
#include "ui/DeviceListDialog.h"

namespace {

TEST(AddressParsing, QueuesTheUsableAddressesInOrder) {
    const std::pair<const char*, AddressList> cases[] = {
        // Duplicate, zero, letters, and 65548 reducing to an already queued 12.
        {"12, 7\r\n12\r\n0\r\nabc\r\n65548", {12, 7}},
        {"\r\n\r\n 5,,6 \r\n\r\n", {5, 6}},
        {"", {}},
        {"\t, \r\n", {}},
        {"5\r\n9\r\n-25536\r\n", {5, 9, 40000}},  // retry lines read back
        {"65537 -1 65536", {1, 65535}},
        {"12abc +13 x14 -0", {12, 13}},
        {"1\t2\n3\r4", {1, 2, 3, 4}}};
    for (const auto& [text, expected] : cases) EXPECT_EQ(parseAddressList(text), expected) << text;
    // Any 16-bit value will do for a huge number; it must simply not overflow.
    const AddressList huge = parseAddressList("123456789012345678901234567890 3");
    ASSERT_FALSE(huge.empty());
    EXPECT_EQ(huge.back(), 3);
}

using DeviceListTest = wintest::WindowTest;

TEST_F(DeviceListTest, QueuesOrDropsByModeAndButton) {
    const struct {
        const char* name;
        AddressList pending, failed;
        bool go;
        QString typed;  // null: leave the text as shown
        bool result;
        const char* caption;
        const char* shownText;
        AddressList failedWhileOpen, pendingAfter, failedAfter;
    } cases[] = {
        {"GoForgetsEarlierFailures", {99}, {42}, true, "12, 7\n12\n0\nabc\n65548", true,
         "Flash Address List", "", {42}, {12, 7}, {}},
        {"EmptyTextEmptiesBoth", {3, 4}, {8}, true, "", true, "Flash Address List", "", {8}, {},
         {}},
        {"AbortInNormalModeChangesNothing", {3, 4}, {8}, false, "5\n6", false,
         "Flash Address List", "", {8}, {3, 4}, {8}},
        {"RetryListsSignedLines", {}, {5, 9, 40000}, true, {}, true, "Retry 3 Failed Devices...",
         "5\n9\n-25536\n", {}, {5, 9, 40000}, {}},
        {"AbortInRetryDropsFailures", {}, {5, 9}, false, {}, false, "Retry 2 Failed Devices...",
         "5\n9\n", {}, {}, {}},
        {"EditedRetryList", {}, {5, 9}, true, "9\n65535", true, "Retry 2 Failed Devices...",
         "5\n9\n", {}, {9, 65535}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pendingQueue() = c.pending;
        failedList() = c.failed;
        QString caption, text, memberText;
        AddressList failedWhileOpen;
        prompts_.onModal = [&](QDialog& modal) {
            auto& dialog = dynamic_cast<DeviceListDialog&>(modal);
            caption = dialog.windowTitle();
            text = dialog.addressEdit()->toPlainText();
            memberText = dialog.addressText;
            failedWhileOpen = failedList();
            if (!c.typed.isNull()) dialog.addressEdit()->setPlainText(c.typed);
            (c.go ? dialog.goButton() : dialog.abortButton())->click();
        };
        EXPECT_EQ(DeviceListDialog::runAndQueue(nullptr), c.result);
        EXPECT_EQ(caption, c.caption);
        EXPECT_EQ(text, c.shownText);
        // The retry list's lines end in CR LF.
        EXPECT_EQ(memberText, QString(c.shownText).replace("\n", "\r\n"));
        EXPECT_EQ(failedWhileOpen, c.failedWhileOpen);
        EXPECT_EQ(pendingQueue(), c.pendingAfter);
        EXPECT_EQ(failedList(), c.failedAfter);
    }
}

TEST(DeviceList, TypingAcceptsOnlyDigitsAndLineBreaks) {
    DeviceListDialog dialog(nullptr);
    dialog.initDialog();
    for (const auto& [key, text] : std::vector<std::pair<int, QString>>{
             {Qt::Key_1, "1"}, {Qt::Key_A, "a"}, {Qt::Key_Minus, "-"}, {Qt::Key_Space, " "},
             {Qt::Key_Comma, ","}, {Qt::Key_2, "2"}, {Qt::Key_Return, "\r"}, {Qt::Key_3, "3"}}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(dialog.addressEdit(), &press);
    }
    EXPECT_EQ(dialog.addressEdit()->toPlainText(), "12\n3");
    dialog.goButton()->click();
    EXPECT_EQ(dialog.addressText, "12\r\n3");
}

}  // namespace
