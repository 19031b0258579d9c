// The URL and start tag of a description, as a camera may write them: every
// scheme, the "?SchemaVersion=" query, and the malformed texts that must
// leave a field unknown rather than guessed.
#include <gtest/gtest.h>

#include "DescriptionUrl.h"
#include "Exceptions.h"

using namespace GenTL;

namespace {

GC_ERROR Answer(const DescriptionUrl& url, URL_INFO_CMD command) {
    INFO_DATATYPE type = 0;
    uint8_t buffer[64] = {};
    size_t size = sizeof buffer;
    try {
        AnswerDescriptionUrlInfo(url, command, &type, buffer, &size);
        return GC_ERR_SUCCESS;
    } catch (const gentl_exception& e) {
        return e.GetCode();
    }
}

}  // namespace

TEST(DescriptionUrl, LocalUrlsGiveFileAddressAndSize) {
    DescriptionUrl url = ParseDescriptionUrl("Local:KRTL.xml;3ac;1c00");
    EXPECT_EQ(url.scheme, URL_SCHEME_LOCAL);
    EXPECT_EQ(url.fileName, "KRTL.xml");
    EXPECT_EQ(url.address, 0x3ACu);
    EXPECT_EQ(url.size, 0x1C00u);
    EXPECT_FALSE(url.schemaVersion);

    url = ParseDescriptionUrl("local:///Vendor_Cam.zip;A0000;3F2A?SchemaVersion=1.1.0");
    EXPECT_EQ(url.scheme, URL_SCHEME_LOCAL);
    EXPECT_EQ(url.fileName, "Vendor_Cam.zip");
    EXPECT_EQ(url.address, 0xA0000u);
    EXPECT_EQ(url.size, 0x3F2Au);
    ASSERT_TRUE(url.schemaVersion);
    EXPECT_EQ(url.schemaVersion->major, 1);
    EXPECT_EQ(url.schemaVersion->minor, 1);
    EXPECT_EQ(url.schemaVersion->subMinor, 0);

    // A trailing ";" after the size, as some cameras write it.
    EXPECT_EQ(ParseDescriptionUrl("Local:cam.xml;10;20;").size, 0x20u);
}

TEST(DescriptionUrl, FileAndHttpUrlsHaveNoAddress) {
    DescriptionUrl file = ParseDescriptionUrl("File:///C:/xml/cam.xml?SchemaVersion=1.0.0");
    EXPECT_EQ(file.scheme, URL_SCHEME_FILE);
    EXPECT_EQ(file.fileName, "cam.xml");
    EXPECT_FALSE(file.address);
    EXPECT_EQ(Answer(file, URL_INFO_FILE_REGISTER_ADDRESS), GC_ERR_NOT_AVAILABLE);
    EXPECT_EQ(Answer(file, URL_INFO_SCHEMA_VER_MAJOR), GC_ERR_SUCCESS);

    DescriptionUrl http = ParseDescriptionUrl("http://vendor.example/xml/cam.xml");
    EXPECT_EQ(http.scheme, URL_SCHEME_HTTP);
    EXPECT_EQ(http.fileName, "cam.xml");
    EXPECT_EQ(Answer(http, URL_INFO_SCHEMA_VER_MAJOR), GC_ERR_NOT_AVAILABLE);
}

TEST(DescriptionUrl, MalformedPartsStayUnknown) {
    EXPECT_FALSE(ParseDescriptionUrl("no scheme at all").scheme);
    EXPECT_FALSE(ParseDescriptionUrl("ftp:cam.xml").scheme);
    DescriptionUrl bad = ParseDescriptionUrl("Local:cam.xml;zz;10");
    EXPECT_FALSE(bad.address);
    EXPECT_FALSE(bad.size);  // no second field after a bad first one is trusted
    EXPECT_FALSE(ParseDescriptionUrl("Local:cam.xml;12345678901234567;10").address);
    EXPECT_FALSE(ParseDescriptionUrl("Local:cam.xml;10").address);
    EXPECT_FALSE(ParseDescriptionUrl("Local:cam.xml;10;20?SchemaVersion=1.x.0").schemaVersion);
    EXPECT_FALSE(ParseDescriptionUrl("Local:cam.xml;10;20?SchemaVersion=1.1").schemaVersion);
    EXPECT_FALSE(ParseDescriptionUrl("").scheme);
    EXPECT_EQ(Answer(ParseDescriptionUrl(""), URL_INFO_SCHEME), GC_ERR_NOT_AVAILABLE);
    EXPECT_EQ(Answer(ParseDescriptionUrl(""), URL_INFO_FILENAME), GC_ERR_NOT_AVAILABLE);
    EXPECT_EQ(Answer(ParseDescriptionUrl(""), URL_INFO_URL), GC_ERR_SUCCESS);
}

TEST(DescriptionUrl, VersionsComeFromTheStartTag) {
    DescriptionUrl url = ParseDescriptionUrl("Local:cam.xml;10;20");
    ReadDescriptionVersions(
        "<?xml version=\"1.0\"?>\n<RegisterDescription ModelName=\"X\"\n"
        "  SchemaMajorVersion=\"1\" SchemaMinorVersion='1' SchemaSubMinorVersion=\"0\"\n"
        "  MajorVersion = \"3\" MinorVersion=\"14\" SubMinorVersion=\"159\">\n<Port/>",
        &url);
    ASSERT_TRUE(url.schemaVersion && url.fileVersion);
    EXPECT_EQ(url.schemaVersion->minor, 1);
    EXPECT_EQ(url.fileVersion->major, 3);
    EXPECT_EQ(url.fileVersion->minor, 14);
    EXPECT_EQ(url.fileVersion->subMinor, 159);

    // The URL's query stands over the tag; a tag without all three numbers says nothing.
    DescriptionUrl queried = ParseDescriptionUrl("Local:cam.xml;10;20?SchemaVersion=1.0.0");
    ReadDescriptionVersions(
        "<RegisterDescription SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" "
        "SchemaSubMinorVersion=\"0\" MajorVersion=\"2\" MinorVersion=\"0\">",
        &queried);
    EXPECT_EQ(queried.schemaVersion->minor, 0);
    EXPECT_FALSE(queried.fileVersion);
    EXPECT_EQ(Answer(queried, URL_INFO_FILE_VER_MAJOR), GC_ERR_NOT_AVAILABLE);

    DescriptionUrl none = ParseDescriptionUrl("Local:cam.xml;10;20");
    ReadDescriptionVersions("<RegisterDescription MajorVersion=\"1\"", &none);  // no ">"
    EXPECT_FALSE(none.fileVersion);
}

TEST(DescriptionUrl, UnknownCommandsAndTheHashAreAnsweredWithTheirCodes) {
    const DescriptionUrl url = ParseDescriptionUrl("Local:cam.xml;10;20");
    EXPECT_EQ(Answer(url, URL_INFO_FILE_SHA1_HASH), GC_ERR_NOT_AVAILABLE);
    EXPECT_EQ(Answer(url, 11), GC_ERR_NOT_IMPLEMENTED);
    EXPECT_EQ(Answer(url, 1000), GC_ERR_NOT_IMPLEMENTED);
}
