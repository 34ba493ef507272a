// Output names found by fuzzing the name builder.
#include "conversion/OutputNames.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

// A source whose whole 240-byte name is its extension: the output keeps it, and the hidden
// file beside it cannot hold it within 255 bytes. The job was refused with stat's reason
// for a hidden name the user never chose; now the output's own name is blamed.
TEST(OutputNamesFuzzFindings, AnExtensionTooLongForTheTemporaryFileIsReportedAsSuch)
{
    const std::string name =
        "].C]]]\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91"
        "\x91\x91\x91\x91\x91\x91\x91##+####\x01_______\xfe__]]]]________________________"
        "________________________________________________________________________________"
        "______________________________________\x80________]]]]\x01\x01__________________"
        "___________\x80____";
    ASSERT_EQ(name.size(), 244u);
    testsupport::TempDir dir;
    const std::string output = dir.str() + "/" + name;
    ASSERT_EQ(output_names::firstFreeName(output, {}).path, output);

    const output_names::FreeName part = output_names::freePartFile(output, 4242, 7, {});
    EXPECT_TRUE(part.path.empty());
    EXPECT_NE(part.problem.find("is too long"), std::string::npos) << part.problem;
    EXPECT_NE(part.problem.find(name), std::string::npos);
    EXPECT_EQ(part.problem.find(".auralon-"), std::string::npos) << part.problem;
}
