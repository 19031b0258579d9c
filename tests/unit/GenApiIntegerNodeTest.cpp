// The producer's own evaluation of a camera's integer feature (PayloadSize)
// from its GenApi description and its registers: the node types cameras use,
// both byte orders, masks, chains, formulas, and descriptions it must refuse.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "GenApiIntegerNode.h"
#include "GenApiXml.h"

using namespace GenTL;

namespace {

// Camera memory as bytes at addresses; reads outside it fail.
class FakeMemory {
public:
    void Put(uint64_t address, std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) m_bytes[address++] = b;
    }
    void PutBig32(uint64_t address, uint32_t value) {
        Put(address, {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                      static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
    }
    RegisterReader Reader() {
        return [this](uint64_t address, size_t length, uint8_t* out) {
            ++reads;
            for (size_t i = 0; i < length; ++i) {
                auto it = m_bytes.find(address + i);
                if (it == m_bytes.end()) return false;
                out[i] = it->second;
            }
            return true;
        };
    }
    int reads = 0;

private:
    std::map<uint64_t, uint8_t> m_bytes;
};

std::string Description(const std::string& nodes) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<!-- a camera -->\n"
           "<RegisterDescription ModelName=\"Test\" VendorName=\"Us\" MajorVersion=\"1\">\n" +
           nodes + "\n<Port Name=\"Device\"/>\n</RegisterDescription>\n";
}

std::optional<int64_t> Evaluate(const std::string& nodes, FakeMemory& memory,
                                const std::string& name = "PayloadSize") {
    const GenApiXml xml(Description(nodes));
    EXPECT_TRUE(xml.Valid());
    const auto node = GenApiIntegerNode::Compile(xml, name);
    if (!node) return std::nullopt;
    return node->Evaluate(memory.Reader());
}

bool Compiles(const std::string& nodes, const std::string& name = "PayloadSize") {
    return GenApiIntegerNode::Compile(GenApiXml(Description(nodes)), name).has_value();
}

}  // namespace

TEST(GenApiIntegerNode, BigEndianIntRegIsReadInTheCamerasByteOrder) {
    FakeMemory memory;
    memory.PutBig32(0x10018, 0x0004B000);
    EXPECT_EQ(Evaluate(R"(<IntReg Name="PayloadSize" NameSpace="Standard">
        <Address>0x00010018</Address> <Length>4</Length> <AccessMode>RO</AccessMode>
        <pPort>Device</pPort> <Sign>Unsigned</Sign> <Endianess>BigEndian</Endianess>
      </IntReg>)",
                       memory),
              0x4B000);
}

TEST(GenApiIntegerNode, LittleEndianIsTheDefault) {
    FakeMemory memory;
    memory.Put(0x20, {0x00, 0x10, 0x00, 0x00});
    EXPECT_EQ(Evaluate(R"(<IntReg Name="PayloadSize"><Address>0x20</Address>
                          <Length>4</Length></IntReg>)",
                       memory),
              0x1000);
    memory.Put(0x30, {0x01, 0x02});
    EXPECT_EQ(Evaluate(R"(<IntReg Name="PayloadSize"><Address>0x30</Address><Length>2</Length>
                          <Endianess>LittleEndian</Endianess></IntReg>)",
                       memory),
              0x0201);
}

TEST(GenApiIntegerNode, SignedRegistersAreSignExtended) {
    FakeMemory memory;
    memory.PutBig32(0x40, 0xFFFFFFFE);
    EXPECT_EQ(Evaluate(R"(<IntReg Name="X"><Address>0x40</Address><Length>4</Length>
                          <Sign>Signed</Sign><Endianess>BigEndian</Endianess></IntReg>)",
                       memory, "X"),
              -2);
    EXPECT_EQ(Evaluate(R"(<IntReg Name="X"><Address>0x40</Address><Length>4</Length>
                          <Endianess>BigEndian</Endianess></IntReg>)",
                       memory, "X"),
              0xFFFFFFFE);
}

TEST(GenApiIntegerNode, MaskedRegistersNumberBitsByTheirByteOrder) {
    FakeMemory memory;
    memory.PutBig32(0x50, 0x12345678);
    // Big-endian: bit 0 is the most significant; LSB 23, MSB 16 is the third byte.
    EXPECT_EQ(Evaluate(R"(<MaskedIntReg Name="X"><Address>0x50</Address><Length>4</Length>
                          <LSB>23</LSB><MSB>16</MSB><Endianess>BigEndian</Endianess>
                          </MaskedIntReg>)",
                       memory, "X"),
              0x56);
    // Little-endian: the bytes 78 56 34 12 make 0x12345678; bits 8..15 are 0x56.
    memory.Put(0x60, {0x78, 0x56, 0x34, 0x12});
    EXPECT_EQ(Evaluate(R"(<MaskedIntReg Name="X"><Address>0x60</Address><Length>4</Length>
                          <LSB>8</LSB><MSB>15</MSB></MaskedIntReg>)",
                       memory, "X"),
              0x56);
    EXPECT_EQ(Evaluate(R"(<MaskedIntReg Name="X"><Address>0x60</Address><Length>4</Length>
                          <Bit>3</Bit></MaskedIntReg>)",
                       memory, "X"),
              1);
    EXPECT_EQ(Evaluate(R"(<MaskedIntReg Name="X"><Address>0x60</Address><Length>4</Length>
                          <LSB>4</LSB><MSB>7</MSB><Sign>Signed</Sign></MaskedIntReg>)",
                       memory, "X"),
              7);
    memory.Put(0x64, {0xF0, 0, 0, 0});
    EXPECT_EQ(Evaluate(R"(<MaskedIntReg Name="X"><Address>0x64</Address><Length>4</Length>
                          <LSB>4</LSB><MSB>7</MSB><Sign>Signed</Sign></MaskedIntReg>)",
                       memory, "X"),
              -1);
    // Bits outside the register, or in the wrong order for the byte order, are refused.
    EXPECT_FALSE(Compiles(R"(<MaskedIntReg Name="X"><Address>0</Address><Length>2</Length>
                             <LSB>16</LSB><MSB>16</MSB></MaskedIntReg>)",
                          "X"));
    EXPECT_FALSE(Compiles(R"(<MaskedIntReg Name="X"><Address>0</Address><Length>4</Length>
                             <LSB>16</LSB><MSB>23</MSB><Endianess>BigEndian</Endianess>
                             </MaskedIntReg>)",
                          "X"));
}

TEST(GenApiIntegerNode, AddressesAddUpFromConstantsNodesAndInlineFormulas) {
    FakeMemory memory;
    memory.PutBig32(0x1000, 0x200);  // a base address register
    memory.PutBig32(0x1210, 4242);
    EXPECT_EQ(Evaluate(R"(
      <IntReg Name="PayloadSize"><Address>0x10</Address><pAddress>Base</pAddress>
        <IntSwissKnife><Formula>0x1000</Formula></IntSwissKnife>
        <Length>4</Length><Endianess>BigEndian</Endianess></IntReg>
      <IntReg Name="Base"><Address>0x1000</Address><Length>4</Length>
        <Endianess>BigEndian</Endianess></IntReg>)",
                       memory),
              4242);
}

TEST(GenApiIntegerNode, IntegerChainsAreFollowed) {
    FakeMemory memory;
    memory.PutBig32(0x100, 640);
    EXPECT_EQ(Evaluate(R"(
      <Integer Name="PayloadSize"><pValue>A</pValue><Min>0</Min></Integer>
      <Integer Name="A"><pValue>B</pValue></Integer>
      <Integer Name="B"><pValue>R</pValue></Integer>
      <IntReg Name="R"><Address>0x100</Address><Length>4</Length>
        <Endianess>BigEndian</Endianess></IntReg>)",
                       memory),
              640);
    EXPECT_EQ(Evaluate(R"(<Integer Name="PayloadSize"><Value>0x12C00</Value></Integer>)", memory),
              76800);
    EXPECT_EQ(Evaluate(R"(<Integer Name="PayloadSize"><Value>-5</Value></Integer>)", memory), -5);
}

TEST(GenApiIntegerNode, SwissKnivesComputeFromTheirVariables) {
    FakeMemory memory;
    memory.PutBig32(0x100, 512);
    memory.PutBig32(0x104, 256);
    memory.PutBig32(0x108, 0x01080001);  // Mono8
    const std::string registers = R"(
      <Integer Name="Width"><pValue>WidthReg</pValue></Integer>
      <IntReg Name="WidthReg"><Address>0x100</Address><Length>4</Length>
        <Endianess>BigEndian</Endianess></IntReg>
      <Integer Name="Height"><pValue>HeightReg</pValue></Integer>
      <IntReg Name="HeightReg"><Address>0x104</Address><Length>4</Length>
        <Endianess>BigEndian</Endianess></IntReg>
      <Enumeration Name="PixelFormat"><EnumEntry Name="Mono8"><Value>17301505</Value></EnumEntry>
        <pValue>PixelFormatReg</pValue></Enumeration>
      <IntReg Name="PixelFormatReg"><Address>0x108</Address><Length>4</Length>
        <Endianess>BigEndian</Endianess></IntReg>)";
    EXPECT_EQ(Evaluate(registers + R"(
      <IntSwissKnife Name="PayloadSize" NameSpace="Standard">
        <pVariable Name="WIDTH">Width</pVariable>
        <pVariable Name="HEIGHT">Height</pVariable>
        <pVariable Name="PIXELFORMAT">PixelFormat</pVariable>
        <Formula>WIDTH * HEIGHT * ((PIXELFORMAT>>16)&amp;0xFF) / 8</Formula>
      </IntSwissKnife>)",
                       memory),
              512 * 256);
    // A float knife behind an integer, with a constant of its own.
    EXPECT_EQ(Evaluate(registers + R"(
      <Integer Name="PayloadSize"><pValue>Knife</pValue></Integer>
      <SwissKnife Name="Knife"><pVariable Name="W">Width</pVariable>
        <pVariable Name="H">Height</pVariable><Constant Name="BPP">1.5</Constant>
        <Formula>(W * H * BPP) + (W &gt; 100 ? 16 : 0)</Formula></SwissKnife>)",
                       memory),
              512 * 256 * 3 / 2 + 16);
    // A converter's value comes from its pValue through FormulaFrom.
    EXPECT_EQ(Evaluate(registers + R"(
      <IntConverter Name="PayloadSize"><pVariable Name="H">Height</pVariable>
        <FormulaTo>FROM / H</FormulaTo><FormulaFrom>TO * H</FormulaFrom>
        <pValue>Width</pValue></IntConverter>)",
                       memory),
              512 * 256);
}

TEST(GenApiIntegerNode, FormulaVariablesMustAllBeDefined) {
    FakeMemory memory;
    EXPECT_FALSE(Compiles(R"(<IntSwissKnife Name="PayloadSize">
        <pVariable Name="A">Missing</pVariable><Formula>A</Formula></IntSwissKnife>)"));
    EXPECT_FALSE(Compiles(R"(<IntSwissKnife Name="PayloadSize">
        <Formula>UNDEFINED + 1</Formula></IntSwissKnife>)"));
    EXPECT_FALSE(Compiles(R"(<IntSwissKnife Name="PayloadSize">
        <Formula>1 +* 2</Formula></IntSwissKnife>)"));
    // A division by zero is no value, and no crash.
    EXPECT_EQ(Evaluate(R"(<IntSwissKnife Name="PayloadSize"><Formula>1 / 0</Formula>
                          </IntSwissKnife>)",
                       memory),
              std::nullopt);
}

TEST(GenApiIntegerNode, CyclesAndDeepChainsAreRefused) {
    EXPECT_FALSE(Compiles(R"(
      <Integer Name="PayloadSize"><pValue>A</pValue></Integer>
      <Integer Name="A"><pValue>PayloadSize</pValue></Integer>)"));
    EXPECT_FALSE(Compiles(R"(
      <IntSwissKnife Name="PayloadSize"><pVariable Name="X">PayloadSize</pVariable>
        <Formula>X</Formula></IntSwissKnife>)"));
    std::string chain = R"(<Integer Name="PayloadSize"><pValue>N0</pValue></Integer>)";
    for (int i = 0; i < 100; ++i)
        chain += "<Integer Name=\"N" + std::to_string(i) + "\"><pValue>N" + std::to_string(i + 1) +
                 "</pValue></Integer>";
    chain += "<Integer Name=\"N100\"><Value>1</Value></Integer>";
    EXPECT_FALSE(Compiles(chain));
}

TEST(GenApiIntegerNode, SharedInputsAreEvaluatedOnce) {
    // Each level uses the one below twice: 2^40 paths, one register read.
    FakeMemory memory;
    memory.PutBig32(0, 3);
    std::string nodes = R"(<IntReg Name="L0"><Address>0</Address><Length>4</Length>
                           <Endianess>BigEndian</Endianess></IntReg>)";
    for (int i = 1; i <= 30; ++i)
        nodes += "<IntSwissKnife Name=\"L" + std::to_string(i) + "\"><pVariable Name=\"A\">L" +
                 std::to_string(i - 1) + "</pVariable><pVariable Name=\"B\">L" +
                 std::to_string(i - 1) + "</pVariable><Formula>A + B - A</Formula></IntSwissKnife>";
    EXPECT_EQ(Evaluate(nodes, memory, "L30"), 3);
    EXPECT_EQ(memory.reads, 1);
}

TEST(GenApiIntegerNode, MissingOrUnsupportedNodesAreUnknown) {
    FakeMemory memory;
    EXPECT_FALSE(Compiles(R"(<Integer Name="Width"><Value>1</Value></Integer>)"));
    EXPECT_FALSE(Compiles(R"(<StringReg Name="PayloadSize"><Address>0</Address>
                             <Length>4</Length></StringReg>)"));
    EXPECT_FALSE(Compiles(R"(<IntReg Name="PayloadSize"><Length>4</Length></IntReg>)"));
    EXPECT_FALSE(Compiles(R"(<IntReg Name="PayloadSize"><Address>0</Address>
                             <Length>9</Length></IntReg>)"));
    EXPECT_FALSE(Compiles(R"(<Integer Name="PayloadSize"><pIndex>I</pIndex>
                             <ValueDefault>1</ValueDefault></Integer>)"));
    // A register the camera does not answer.
    EXPECT_EQ(Evaluate(R"(<IntReg Name="PayloadSize"><Address>0x999</Address><Length>4</Length>
                          </IntReg>)",
                       memory),
              std::nullopt);
    // An entry of an enumeration is not a node of its own.
    EXPECT_FALSE(Compiles(R"(<Enumeration Name="E"><EnumEntry Name="PayloadSize">
                             <Value>1</Value></EnumEntry><Value>1</Value></Enumeration>)"));
}

TEST(GenApiXml, CommentsEntitiesAndAttributesAreRead) {
    const GenApiXml xml(R"(<?xml version="1.0"?>
      <!-- <Integer Name="Hidden"><Value>1</Value></Integer> -->
      <RegisterDescription>
        <Integer  Name = 'A&amp;B' NameSpace="Custom" >
          <Value> 12 </Value>
        </Integer>
        <IntSwissKnife Name="K"><Formula>1 &lt; 2 &#x26;&#38; 3</Formula></IntSwissKnife>
        <Group Comment="g"><Integer Name="Inner"><Value>3</Value></Integer></Group>
        <Empty Name="E"/>
      </RegisterDescription>)");
    ASSERT_TRUE(xml.Valid());
    EXPECT_EQ(xml.Node("Hidden"), GenApiXml::kNone);
    const size_t a = xml.Node("A&B");
    ASSERT_NE(a, GenApiXml::kNone);
    EXPECT_EQ(xml.At(xml.Child(a, "Value")).text, "12");
    const size_t k = xml.Node("K");
    ASSERT_NE(k, GenApiXml::kNone);
    EXPECT_EQ(xml.At(xml.Child(k, "Formula")).text, "1 < 2 && 3");
    EXPECT_NE(xml.Node("Inner"), GenApiXml::kNone);
    EXPECT_NE(xml.Node("E"), GenApiXml::kNone);
}

TEST(GenApiXml, MalformedDocumentsAreEmpty) {
    for (const char* text : {"", "<A>", "<A></B>", "<A><!-- </A>", "<A x=\"1></A>", "<A x=1></A>",
                             "</A>", "<A><B></A></B>", "<A/><", "<A a=\"1\" /"}) {
        const GenApiXml xml(text);
        EXPECT_FALSE(xml.Valid()) << text;
        EXPECT_EQ(xml.Size(), 0u) << text;
    }
    std::string deep;
    for (size_t i = 0; i <= GenApiXml::kMaxDepth; ++i) deep += "<A>";
    for (size_t i = 0; i <= GenApiXml::kMaxDepth; ++i) deep += "</A>";
    EXPECT_FALSE(GenApiXml(deep).Valid());
}
