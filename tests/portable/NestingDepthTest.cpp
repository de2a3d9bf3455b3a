// The nesting scan the loader trusts to refuse deep documents: it must read the text as the
// XML parser does, or a document could hide its depth from it. Free of Windows: built
// natively with the sanitizers too.
#include "sequence/NestingDepth.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace {

constexpr std::size_t kNoLimit = 1000000;

std::size_t Depth(const std::string& text) { return XmlNestingDepth(text.c_str(), kNoLimit); }

std::string Repeat(const std::string& text, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

TEST(NestingDepth, CountsOpenElementsNotSelfClosedOnes)
{
    EXPECT_EQ(0u, Depth(""));
    EXPECT_EQ(0u, Depth("<Installer/>"));
    EXPECT_EQ(1u, Depth("<Installer></Installer>"));
    EXPECT_EQ(4u, Depth("<Installer><x64><Item><url>a</url><services/></Item></x64></Installer>"));
    EXPECT_EQ(2u, Depth("<a><b></b><b></b><b></b></a>")) << "siblings do not add up";
    EXPECT_EQ(3u, Depth("<a><b></b><c><d></d></c></a>"));
    EXPECT_EQ(2u, Depth("<a x = '1' y=\"2\" ><b\t/><b></b></a>"));
}

TEST(NestingDepth, SkipsWhatTheParserSkips)
{
    const std::string hidden = Repeat("<w>", 50);
    EXPECT_EQ(1u, Depth("<a><!--" + hidden + "--></a>"));
    EXPECT_EQ(1u, Depth("<a><![CDATA[" + hidden + "]]></a>"));
    EXPECT_EQ(1u, Depth("<?xml version=\"1.0\"?><?pi " + hidden + "?><a></a>"));
    EXPECT_EQ(1u, Depth("<!DOCTYPE a [ [" + hidden + "] " + hidden + " ]><a></a>"));
    EXPECT_EQ(1u, Depth("<a><!ELEMENT " + Repeat("w", 5) + "></a>"));
    EXPECT_EQ(1u, Depth("<a v=\"" + hidden + "/>\" w='>" + hidden + "'></a>"));
    EXPECT_EQ(1u, Depth("<a>text &lt;w&gt; more text</a>"));
}

TEST(NestingDepth, DoesNotEndNodesEarlierThanTheParser)
{
    // Each of these would hide the tags behind it from a scan that ends the node too soon.
    EXPECT_EQ(51u, Depth("<?>" + Repeat("<w>", 50) + "?><a>" + Repeat("<w>", 50)));
    EXPECT_EQ(50u, Depth("<!-->" + Repeat("<w>", 50) + "-->" + Repeat("<w>", 50)));
    EXPECT_EQ(50u, Depth("<!DOCTYPE a [<w>]>" + Repeat("<w>", 50)));
    EXPECT_EQ(50u, Depth("<!other [>" + Repeat("<w>", 50)));
    EXPECT_EQ(50u, Depth("<a\"b>" + Repeat("<w>", 49))) << "a quote inside a name does not open a value";
}

TEST(NestingDepth, StopsWhereTheParserWouldFail)
{
    EXPECT_EQ(1u, Depth("<a><b c>" + Repeat("<w>", 50))) << "attribute without value";
    EXPECT_EQ(1u, Depth("<a><b c=d>" + Repeat("<w>", 50))) << "value without quotes";
    EXPECT_EQ(1u, Depth("<a><b c=\"" + Repeat("<w>", 50))) << "value without its closing quote";
    EXPECT_EQ(1u, Depth("<a><b / >" + Repeat("<w>", 50)));
    EXPECT_EQ(1u, Depth("<a><>" + Repeat("<w>", 50))) << "element without a name";
    EXPECT_EQ(1u, Depth("<a><!--" + Repeat("<w>", 50)));
}

TEST(NestingDepth, AnswersOneAboveTheLimitOnceItIsPassed)
{
    const std::string deep = Repeat("<w>", 100000);
    EXPECT_EQ(65u, XmlNestingDepth(deep.c_str(), 64));
    EXPECT_EQ(64u, XmlNestingDepth((Repeat("<w>", 64) + Repeat("</w>", 64)).c_str(), 64));
    EXPECT_EQ(100000u, Depth(deep));
    EXPECT_EQ(0u, XmlNestingDepth("<w/>", 0));
    EXPECT_EQ(1u, XmlNestingDepth("<w>", 0));
}

}  // namespace
