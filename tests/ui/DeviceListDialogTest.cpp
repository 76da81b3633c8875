// The device list dialog: address parsing into the queue, and the retry mode.
#include <QPlainTextEdit>
#include <QPushButton>

#include "WindowTestSupport.h"
#include "ui/DeviceListDialog.h"

namespace rwtest {
namespace {

using DeviceListTest = WindowTest;

TEST_F(DeviceListTest, QueuesTheTypedAddressesOrRetriesTheFailures) {
    const struct {
        AddressList pending, failed;
        QString typed;  // null: leave the text as shown
        bool go;
        const char *caption, *shownText;
        AddressList pendingAfter, failedAfter;
    } cases[] = {
        // Duplicate, zero, letters, and 65548 reducing to an already queued 12.
        {{99}, {42}, "12, 7\n12\n0\nabc\n65548", true, "Flash Address List", "", {12, 7}, {}},
        {{}, {}, " 5,,6 \n\n1\t2\r3", true, "Flash Address List", "", {5, 6, 1, 2, 3}, {}},
        {{3, 4}, {8}, "", true, "Flash Address List", "", {}, {}},
        {{},
         {5, 9, 40000},
         {},
         true,
         "Retry 3 Failed Devices...",
         "5\n9\n-25536\n",
         {5, 9, 40000},
         {}},
        {{}, {5, 9}, {}, false, "Retry 2 Failed Devices...", "5\n9\n", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.caption + (" " + c.typed).toStdString());
        pendingQueue() = c.pending;
        failedList() = c.failed;
        QString caption, text;
        prompts_.onModal = [&](QDialog& modal) {
            auto& dialog = dynamic_cast<rw::DeviceListDialog&>(modal);
            caption = dialog.windowTitle();
            text = dialog.addressEdit->toPlainText();
            if (!c.typed.isNull()) dialog.addressEdit->setPlainText(c.typed);
            QPushButton* button = c.go ? dialog.goButton : dialog.abortButton;
            EXPECT_EQ(button->text(), c.go ? "Go" : "Abort");
            button->click();
        };
        EXPECT_EQ(rw::DeviceListDialog::runAndQueue(nullptr), c.go);
        EXPECT_EQ(caption, c.caption);
        EXPECT_EQ(text, c.shownText);
        EXPECT_EQ(pendingQueue(), c.pendingAfter);
        EXPECT_EQ(failedList(), c.failedAfter);
    }
}

}  // namespace
}  // namespace rwtest
