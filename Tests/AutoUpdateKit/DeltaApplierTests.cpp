#include "DeltaApplier.hpp"
#include "DeltaCompression.hpp"
#include "DeltaFormat.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"

#include "Platform/Crypto.hpp"
#include "Platform/Process.hpp"

#include <functional>
#include <optional>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace autoupdatekit;
using DeltaFormat::Operation;
using testsupport::exists;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

std::string hex(const platform::Sha256Digest& digest) { return platform::hexLowercase(digest.data(), digest.size()); }
std::string treeDigest(const std::string& bundle) { return hex(BundleTree::digest(BundleTree::scan(bundle))); }

// A release as the manifest would describe the delta file at path.
DeltaUpdate describe(const std::string& path, const std::string& fromTree, const std::string& toTree) {
    std::string bytes = readFile(path);
    return {"1.0", "10", "https://updates.example.com/Sample.delta", static_cast<std::int64_t>(bytes.size()),
            hex(platform::sha256(bytes)), fromTree, toTree};
}

class Delta : public ::testing::Test {
protected:
    void SetUp() override {
        // The old bundle: an executable, resources, a link, a folder with its own mode.
        testsupport::SampleBundle sample;
        sample.extraInfo["CFBundleShortVersionString"] = std::string("1.0");
        sample.extraInfo["CFBundleVersion"] = std::string("10");
        oldApp_ = testsupport::buildBundle(folder_ / "old", "Sample", sample);
        executable_ = readFile("/usr/bin/ls");  // native code, small enough for a debug build's suffix array
        writeFile(oldApp_ + "/Contents/MacOS/tool", executable_, 0755);
        writeFile(oldApp_ + "/Contents/Resources/same.txt", "unchanged\n");
        writeFile(oldApp_ + "/Contents/Resources/picture.dat", std::string(50000, 'p') + "old");
        writeFile(oldApp_ + "/Contents/Resources/gone.txt", "removed in 2.0\n");
        ASSERT_EQ(::symlink("MacOS/tool", (oldApp_ + "/Contents/current").c_str()), 0);

        // The new one, built from it as a release would change it.
        sample.extraInfo["CFBundleShortVersionString"] = std::string("2.0");
        newApp_ = testsupport::buildBundle(folder_ / "new", "Sample", sample);
        std::string rebuilt = executable_;
        // As after a rebuild: code inserted, and the addresses after it shifted.
        rebuilt.insert(rebuilt.size() / 2, "a few instructions more");
        for (std::size_t index = rebuilt.size() / 2 + 64; index < rebuilt.size(); index += 64) ++rebuilt[index];
        writeFile(newApp_ + "/Contents/MacOS/tool", rebuilt, 0755);
        writeFile(newApp_ + "/Contents/Resources/same.txt", "unchanged\n", 0600);
        platform::runCapturingOutput("/bin/mkdir", {"-m", "0750", newApp_ + "/Contents/Resources/moved"});
        writeFile(newApp_ + "/Contents/Resources/moved/picture.dat", std::string(50000, 'p') + "old");
        writeFile(newApp_ + "/Contents/Resources/fresh.bin", platform::base64Encode(platform::Bytes(3000, 7)), 0640);
        ASSERT_EQ(::symlink("../MacOS/tool", (newApp_ + "/Contents/Resources/tool-link").c_str()), 0);
        ASSERT_EQ(::symlink("MacOS/tool", (newApp_ + "/Contents/current").c_str()), 0);
        ::mkdir((folder_ / "staging").c_str(), 0755);
    }

    // Writes the delta with the publisher's tool and describes it as the manifest would;
    // the tool's summary goes to the summary given.
    DeltaUpdate writeDelta(const std::string& output, std::string* summary = nullptr) {
        auto written = platform::runCapturingOutput(std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdate-manifest",
                                                    {"delta", "--from", oldApp_, "--to", newApp_, "--output", output, "--level", "3"});
        EXPECT_EQ(written.status, 0) << written.bytes;
        if (summary != nullptr) *summary = written.bytes;
        return describe(output, treeDigest(oldApp_), treeDigest(newApp_));
    }

    // Applies and returns the error text, "" when it succeeded.
    std::string applied(const DeltaUpdate& delta, const std::string& file) {
        try {
            DeltaApplier::apply(delta, file, oldApp_, folder_ / "staging");
            return "";
        } catch (const DeltaApplier::DeltaError& error) {
            return error.what();
        }
    }

    testsupport::TemporaryDirectory folder_;
    std::string oldApp_;
    std::string newApp_;
    std::string executable_;
};

}  // namespace

TEST_F(Delta, RebuildsTheNewBundleFromCopiesPatchesAndWholeFilesWithoutTouchingTheOld) {
    std::string summary;
    auto delta = writeDelta(folder_ / "Sample.delta", &summary);
    // same.txt (a new mode), picture.dat under its new path and the script executable are
    // copies; Info.plist is patched, the native executable differenced; fresh.bin is
    // whole; gone.txt and picture.dat's old path are removed.
    EXPECT_NE(summary.find("copied, 1 patched, 1 differenced, 1 whole"), std::string::npos) << summary;
    EXPECT_NE(summary.find(" 2 removed"), std::string::npos) << summary;
    // A patch of the rebuilt executable costs a small part of the file.
    EXPECT_LT(readFile(folder_ / "Sample.delta").size(), executable_.size() / 50);

    std::string oldDigest = treeDigest(oldApp_);
    ASSERT_EQ(applied(delta, folder_ / "Sample.delta"), "");
    EXPECT_EQ(BundleTree::scan(folder_ / "staging"), BundleTree::scan(newApp_));
    EXPECT_EQ(testsupport::lstatOf(folder_ / "staging/Contents/Resources/moved").st_mode & 07777, 0750u);
    EXPECT_EQ(treeDigest(oldApp_), oldDigest);
}

// A delta that is not the signed one (its digest, its trees) or is damaged is refused,
// leaving nothing. (One made from another bundle than the installed one is the
// update check's fallback case.)
TEST_F(Delta, RefusesADeltaThatIsNotTheSignedOneOrIsDamaged) {
    auto delta = writeDelta(folder_ / "Sample.delta");
    std::string bytes = readFile(folder_ / "Sample.delta");
    auto wrongDigest = delta;
    wrongDigest.sha256[0] = wrongDigest.sha256[0] == '0' ? '1' : '0';
    auto otherTrees = delta;
    otherTrees.toTreeSHA256 = std::string(64, '0');
    std::string corrupt = bytes;
    corrupt[bytes.size() - 200] ^= 0x40;
    struct Case {
        std::string bytes;
        std::optional<DeltaUpdate> description;  // else as if signed: only the applier's checks stand
        std::string error;
    };
    const Case cases[] = {
        {bytes, wrongDigest, "does not match the manifest's SHA-256"},
        {bytes, otherTrees, "tree digests are not the ones the manifest names"},
        {bytes.substr(0, bytes.size() / 2), {}, "ends in the middle of a record"},
        {bytes.substr(0, bytes.size() - 1), {}, "ends in the middle of a record"},
        {corrupt, {}, ""},
        {bytes + "more", {}, "bytes after its end record"},
        {std::string("NOTDELTA") + bytes.substr(8), {}, "not a delta"},
    };
    for (std::size_t index = 0; index < std::size(cases); ++index) {
        std::string file = folder_ / ("variant" + std::to_string(index));
        writeFile(file, cases[index].bytes);
        std::string error = applied(cases[index].description.value_or(describe(file, delta.fromTreeSHA256, delta.toTreeSHA256)), file);
        EXPECT_NE(error, "") << index;
        EXPECT_NE(error.find(cases[index].error), std::string::npos) << index << ": " << error;
        EXPECT_EQ(testsupport::listTree(folder_ / "staging"), "") << index;
    }
}

TEST_F(Delta, RefusesHostileRecordsAndResultsThatDifferFromTheToTree) {
    std::string fromTree = treeDigest(oldApp_);
    std::string frame = DeltaCompression::compress(std::string(100, 'x'), {}, 3, 100);
    auto xDigest = platform::sha256(std::string(100, 'x'));
    using Records = std::function<void(DeltaFormat::Encoder&)>;
    auto folderRecord = [](const std::string& path) {
        return [path](DeltaFormat::Encoder& out) { out.u8(1), out.text(path), out.u32(0755); };
    };
    auto linkRecord = [](const std::string& path, const std::string& target) {
        return [path, target](DeltaFormat::Encoder& out) { out.u8(2), out.text(path), out.text(target); };
    };
    auto wholeRecord = [&](const std::string& path, std::uint64_t size, std::uint32_t mode = 0644) {
        return [=](DeltaFormat::Encoder& out) { out.u8(5), out.text(path), out.u32(mode), out.u64(size), out.digest(xDigest), out.data(frame); };
    };
    // A difference patch against the old bundle's 10-byte same.txt.
    auto differenceRecord = [](std::int64_t differenceLength, std::int64_t seek, std::size_t streamLength) {
        std::string stream;
        for (std::int64_t value : {differenceLength, std::int64_t{0}, seek}) {
            for (int byte = 0; byte < 8; ++byte) stream.push_back(static_cast<char>(static_cast<std::uint64_t>(value) >> (8 * byte) & 0xff));
        }
        stream = (stream + std::string(static_cast<std::size_t>(std::max<std::int64_t>(differenceLength, 0)), '\0')).substr(0, streamLength);
        std::string patch = DeltaCompression::compress(stream, {}, 3, 100);
        return [patch](DeltaFormat::Encoder& out) {
            out.u8(7), out.text("a"), out.u32(0644), out.u64(100), out.digest({}), out.text("Contents/Resources/same.txt"), out.data(patch);
        };
    };
    struct Case {
        std::vector<Records> records;
        std::string error;
        std::optional<std::uint64_t> claimedRecords;  // when not the records' count
    };
    const std::vector<Case> cases = {
        {{wholeRecord("../evil", 100)}, "unsafe path \"../evil\"", {}},
        {{wholeRecord("/tmp/evil", 100)}, "unsafe path \"/tmp/evil\"", {}},
        {{wholeRecord("a/./b", 100)}, "unsafe path", {}},
        {{linkRecord("out", "../outside")}, "it makes \"out\" a link that leaves the bundle", {}},
        {{linkRecord("out", "/etc")}, "a link that leaves the bundle", {}},
        {{folderRecord("d"), linkRecord("e", "d"), wholeRecord("e/evil", 100)}, "open e", {}},
        {{folderRecord("d"), linkRecord("d/l", ".."), wholeRecord("d/l/evil", 100)}, "open d/l", {}},
        {{wholeRecord("small", 10)}, "larger than its declared 10 bytes", {}},
        {{wholeRecord("big", 1000)}, "smaller than its declared size", {}},
        {{wholeRecord("setuid", 100, 04755)}, "mode beyond the permission bits", {}},
        {{wholeRecord("b", 100), wholeRecord("a", 100)}, "not in ascending order", {}},
        {{wholeRecord("a", 100)}, "more records than its header says", 0},
        {{wholeRecord("a", 100)}, "fewer records than its header says", 2},
        {{wholeRecord("a", 100)}, "more records than two bundles may hold", 1'000'000},
        {{[](DeltaFormat::Encoder& out) { out.u8(9); }}, "unknown record type 9", {}},
        {{[](DeltaFormat::Encoder& out) { out.u8(3), out.text("a"), out.u32(0644), out.u64(1), out.digest({}), out.text("../../etc/passwd"); }},
         "no file of the installed bundle", {}},
        {{differenceRecord(11, -11, 100)}, "reaches outside the old file", {}},
        {{differenceRecord(0, -1, 100)}, "reaches outside the old file", {}},
        {{differenceRecord(10, 1, 100)}, "reaches outside the old file", {}},
        {{differenceRecord(10, 0, 12)}, "ends inside a block", {}},
        {{wholeRecord("a", 100)}, "the rebuilt bundle's tree digest", {}},
    };
    for (std::size_t index = 0; index < cases.size(); ++index) {
        const Case& test = cases[index];
        DeltaFormat::Encoder out;
        platform::Sha256Digest toTree{};  // matches no real result
        out.header({BundleTree::digest(BundleTree::scan(oldApp_)), toTree, "1.0", "10",
                    test.claimedRecords.value_or(test.records.size())});
        for (const auto& record : test.records) record(out);
        out.u8(0);
        std::string file = folder_ / ("hostile" + std::to_string(index));
        writeFile(file, out.take());
        std::string error = applied(describe(file, fromTree, hex(toTree)), file);
        EXPECT_NE(error.find(test.error), std::string::npos) << index << ": " << error;
        EXPECT_EQ(testsupport::listTree(folder_ / "staging"), "") << index;
        EXPECT_FALSE(exists("/tmp/evil"));
    }
}
