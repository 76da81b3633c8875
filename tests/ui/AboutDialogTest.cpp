// The About box with and without a version record.
#include "WindowTestSupport.h"
#include "ui/AboutDialog.h"

namespace rwtest {
namespace {

TEST(AboutBox, ShowsTheRecordOrItsDefaults) {
    const struct {
        std::optional<std::string> record;  // none: no record file at all
        const char *product, *company;
    } cases[] = {
        {std::nullopt, "KVT Romwright v1.1", "KVT Controls, Copyright (C) 2024"},
        {"[StringFileInfo\\040904b0]\nProductVersion=2.0 beta\nCompanyName=Acme\n",
         "KVT Romwright v2.0 beta", "Acme, Copyright (C) 2024"},
        {"[StringFileInfo\\040704b0]\nProductName=Other\n",  // another language only
         "KVT Romwright v1.1", "KVT Controls, Copyright (C) 2024"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path =
            c.record ? writeFile(dir.path() / "r.ver", *c.record) : "/no/such/record.ver";
        rw::AboutDialog about(nullptr, QString::fromStdString(path));
        EXPECT_EQ(about.productLabel->text(), c.product);
        EXPECT_EQ(about.companyLabel->text(), c.company);
    }
    // The record built into the program: its commas become ". ".
    const rw::AboutDialog builtIn;
    EXPECT_EQ(builtIn.productLabel->text(), "KVT Romwright v1. 1. 0. 4");
    EXPECT_LT(builtIn.productLabel->y(), builtIn.companyLabel->y());  // product line on top
}

}  // namespace
}  // namespace rwtest
