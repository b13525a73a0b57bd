// The XML, RTF and HTML renderings, read back by real peers: xmllint,
// unrtf, Python's HTML parser, and a web server on loopback that runs a
// crashing CGI program for curl.
#include <gtest/gtest.h>

#include <algorithm>

#include "crashreport/report/log_file.h"
#include "crashreport/report/report_rtf.h"
#include "crashreport/report/report_xml.h"
#include "crashreport/report/web_page.h"
#include "tests/crashreport/report/report_test_support.h"
#include "tests/support/faults.h"
#include "tests/support/peer_process.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace crashreport;
using testing_support::Contains;
using testing_support::HaveProgram;
using testing_support::RunShell;
using testing_support::TempDir;

const char* kInjection =
    "Bad <b>input</b> & \"quotes\" 'too' </Log><evil x=\"1\"/> {\\rtf1 \\par} <script>alert(1)</script>";

std::string Xpath(const std::string& file, const std::string& expression)
{
    std::string out = RunShell("xmllint --xpath '" + expression + "' " + file + " 2>&1").Output;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

TEST(XML, ElementsSelfCloseIndentAndEscape)
{
    TXMLItem root("Root");
    EXPECT_EQ(root.GetXML(), "<Root/>\r\n");
    TXMLItem* child = root.AddChild("Line");
    EXPECT_EQ(child->Parent, &root);
    child->AddAttribute("Value", "a\r\nb<\x01\xc3\xa9\xe9");
    EXPECT_EQ(root.GetXML(), "<Root>\r\n  <Line Value=\"a&#013;&#010;b&#060;?&#233;&#233;\"/>\r\n</Root>\r\n");
    EXPECT_TRUE(VersionBelow("4.9.1", "5.0.0"));
    EXPECT_FALSE(VersionBelow("5.1.5", "5.0.0"));
    // A damaged log's version of absurd length compares, and as the larger.
    EXPECT_FALSE(VersionBelow(std::string(40, '9') + ".1", "5.0.0"));
    EXPECT_TRUE(VersionBelow("5.0.0", std::string(40, '9')));
}

TEST(XML, TheLogDocumentIsWellFormedAndCarriesEveryField)
{
    if (!HaveProgram("xmllint")) GTEST_SKIP() << "xmllint is not installed";
    TTavrelModuleOptions options("", false);
    options.SetStackFlags({stDllFrames, stPackageFrames, stLineOffsets});
    auto first = reporttest::MakeSample("Line one: detail\r\n\r\nline three");
    auto second = reporttest::MakeSample(kInjection);
    second->Sources.Items[riFormText] = "caf\xc3\xa9 \xff";
    TLogFile log = TLogFile::FromText(BuildReportText(first->Sources, options).Text);
    log.AddReport(BuildReportText(second->Sources, options).Text, 10);
    TempDir dir;
    const std::string file = dir / "log.xml";
    SaveLogAsXML(log, file);
    const auto lint = RunShell("xmllint --noout " + file + " 2>&1");
    ASSERT_EQ(lint.ExitCode, 0) << lint.Output << testing_support::ReadFile(file);

    EXPECT_EQ(Xpath(file, "count(/Doc/Log)"), "2");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/@Version)"), "5.1.5");
    EXPECT_EQ(Xpath(file, "count(/Doc/Log[1]/General/Group/Line)"), "33");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/General/Group[2]/@Label)"), "Exception");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/General/Group[2]/Line[5]/@ID)"), "2.5");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/General/Group[2]/Line[5]/@Label)"), "Message");
    // The multi-line value comes back as it was (blank line included).
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/General/Group[2]/Line[5]/@Value)"), "Line one: detail\r\n\r\nline three");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[2]/General/Group[2]/Line[5]/@Value)"), kInjection);
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[2]/General/Group[3]/Line[2]/@Value)"), "caf\xc3\xa9 \xc3\xbf");
    EXPECT_EQ(Xpath(file, "count(//evil) + count(//script) + count(//b)"), "0");
    // Call stack: the exception thread with its frames, the running main thread.
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/CallStack/ExceptionThread/@ID)"), "4242");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/CallStack/ExceptionThread/@Class)"), "TConvertThread");
    EXPECT_EQ(Xpath(file, "count(/Doc/Log[1]/CallStack/ExceptionThread/Line)"), "3");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/CallStack/ExceptionThread/Line[1]/@Procedure)"), "ReadFrame(int)");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/CallStack/ExceptionThread/Line[1]/@Number)"), "118");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/CallStack/ExceptionThread/Line[1]/@Offset)"), "3");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/CallStack/RunningThread/@MainThread)"), "True");
    EXPECT_EQ(Xpath(file, "count(/Doc/Log[1]/CallStack/RunningThread/Line)"), "2");
    EXPECT_EQ(Xpath(file, "count(/Doc/Log[1]/Modules/Module)"), "3");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/Modules/Module[1]/@Path)"), "/opt/vek/");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/Modules/Module[1]/@Modified)"), "2025-12-09 12:00:00");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/CPU/Registers/@RAX)"), "1111111111111111");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/CPU/Registers/@R15)"), "000000000000000F");
    EXPECT_EQ(Xpath(file, "count(/Doc/Log[1]/CPU/Registers/@*)"), "16");
    EXPECT_EQ(Xpath(file, "count(/Doc/Log[1]/CPU/Stack/Line)"), "16");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/CPU/MemoryDump/Line[1]/@Chars)"), "<b>&\"'{\\par}T[bi");
    EXPECT_EQ(Xpath(file, "string(/Doc/Log[1]/CPU/MemoryDump/Line[1]/@Bytes)"),
              "3C 62 3E 26 22 27 7B 5C 70 61 72 7D 54 5B 62 69");
}

// Rows of inlined code are Line elements like the others, their procedure
// without the mark, which becomes an attribute.
TEST(XML, InlinedRowsAreLinesMarkedInlined)
{
    if (!HaveProgram("xmllint")) GTEST_SKIP() << "xmllint is not installed";
    TTavrelModuleOptions options("", false);
    auto sample = reporttest::MakeSample();
    reporttest::AddInlinedRows(*sample);
    TLogFile log = TLogFile::FromText(BuildReportText(sample->Sources, options).Text);
    TempDir dir;
    const std::string file = dir / "log.xml";
    SaveLogAsXML(log, file);
    const auto lint = RunShell("xmllint --noout " + file + " 2>&1");
    ASSERT_EQ(lint.ExitCode, 0) << lint.Output;
    const std::string thread = "/Doc/Log[1]/CallStack/ExceptionThread";
    EXPECT_EQ(Xpath(file, "count(" + thread + "/Line)"), "5"); // three rows of the sample, two inlined ones
    EXPECT_EQ(Xpath(file, "string(" + thread + "/Line[1]/@Procedure)"), "Decode(int)");
    EXPECT_EQ(Xpath(file, "string(" + thread + "/Line[1]/@Inlined)"), "True");
    EXPECT_EQ(Xpath(file, "string(" + thread + "/Line[1]/@Unit)"), "frame_file.h");
    EXPECT_EQ(Xpath(file, "string(" + thread + "/Line[2]/@Procedure)"), "Load()");
    EXPECT_EQ(Xpath(file, "string(" + thread + "/Line[2]/@Number)"), "77");
    EXPECT_EQ(Xpath(file, "string(" + thread + "/Line[3]/@Procedure)"), "ReadFrame(int)");
    EXPECT_EQ(Xpath(file, "count(" + thread + "/Line[3]/@Inlined)"), "0");
    EXPECT_EQ(Xpath(file, "string(" + thread + "/Line[1]/@Address)"),
              Xpath(file, "string(" + thread + "/Line[3]/@Address)"));
}

// A row the raw scan found: its mark (after an inlined row's) becomes an
// attribute too; the text keeps the table's six columns.
TEST(XML, ScannedRowsAreLinesMarkedScanned)
{
    if (!HaveProgram("xmllint")) GTEST_SKIP() << "xmllint is not installed";
    TTavrelModuleOptions options("", false);
    auto sample = reporttest::MakeSample();
    reporttest::AddInlinedRows(*sample);
    sample->Stack->Item(0)->Scanned = 1; // inlined and scanned
    sample->Stack->Item(3)->Scanned = 1; // scanned
    reporttest::CopyRowsIntoSources(*sample);
    const std::string text = BuildReportText(sample->Sources, options).Text;
    EXPECT_NE(text.find("|Decode(int) [inlined] [scan]|"), std::string::npos) << text;
    TLogFile log = TLogFile::FromText(text);
    TempDir dir;
    const std::string file = dir / "log.xml";
    SaveLogAsXML(log, file);
    const auto lint = RunShell("xmllint --noout " + file + " 2>&1");
    ASSERT_EQ(lint.ExitCode, 0) << lint.Output;
    const std::string thread = "/Doc/Log[1]/CallStack/ExceptionThread";
    EXPECT_EQ(Xpath(file, "count(" + thread + "/Line)"), "5");
    EXPECT_EQ(Xpath(file, "string(" + thread + "/Line[1]/@Procedure)"), "Decode(int)");
    EXPECT_EQ(Xpath(file, "string(" + thread + "/Line[1]/@Inlined)"), "True");
    EXPECT_EQ(Xpath(file, "string(" + thread + "/Line[1]/@Scanned)"), "True");
    EXPECT_EQ(Xpath(file, "count(" + thread + "/Line[2]/@Scanned)"), "0");
    EXPECT_EQ(Xpath(file, "string(" + thread + "/Line[4]/@Scanned)"), "True");
    EXPECT_EQ(Xpath(file, "count(" + thread + "/Line[4]/@Inlined)"), "0");
    for (int line = 1; line <= 5; ++line)
        EXPECT_EQ(Xpath(file, "count(" + thread + "/Line[" + std::to_string(line) + "]/@Number)"), "1");
}

TEST(XML, PlaceholderRegistersGiveNoAttributes)
{
    auto sample = reporttest::MakeSample();
    sample->Sources.Context.reset();
    TTavrelModuleOptions options("", false);
    const std::string xml = BuildReportXML(BuildReportText(sample->Sources, options).Text);
    EXPECT_TRUE(Contains(xml, "<Registers/>")) << xml;
}

// The lines of unrtf's plain-text output, without its header.
std::string UnrtfText(const std::string& rtfFile)
{
    const std::string out = RunShell("unrtf --text " + rtfFile + " 2>/dev/null").Output;
    const std::size_t rule = out.find("-----------------\n");
    return rule == std::string::npos ? out : out.substr(rule + 18);
}

// The words of a text in order, one space between them: an RTF reader
// lays out spaces and tab stops in its own way.
std::string Words(const std::string& text)
{
    std::string out;
    bool space = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            space = !out.empty();
        } else {
            if (space) out += ' ';
            out += c;
            space = false;
        }
    }
    return out;
}

std::string WithoutCR(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

TEST(RTF, AnRtfReaderGivesBackThePlainTextOfBothViews)
{
    if (!HaveProgram("unrtf")) GTEST_SKIP() << "unrtf is not installed";
    auto sample = reporttest::MakeSample(kInjection);
    TTavrelModuleOptions options("", false);
    const TErrorReport report = BuildReportText(sample->Sources, options);
    TempDir dir;
    testing_support::WriteFile(dir / "general.rtf", BuildGeneralRTF(report.GeneralPart));
    testing_support::WriteFile(dir / "cpu.rtf", BuildCPURTF(report.CPUPart));
    EXPECT_EQ(Words(UnrtfText(dir / "general.rtf")), Words(report.GeneralPart));
    EXPECT_EQ(Words(UnrtfText(dir / "cpu.rtf")), Words(report.CPUPart));
    // Line by line: the general view keeps every line.
    EXPECT_EQ(std::count(report.GeneralPart.begin(), report.GeneralPart.end(), '\n'), [&] {
        const std::string out = UnrtfText(dir / "general.rtf");
        return std::count(out.begin(), out.end(), '\n');
    }());
    EXPECT_EQ(EscapeRTF("a\\b{c}\r\nd"), "a\\\\b\\{c\\}\\par\r\nd");
}

// The text and the start tags of a page as Python's HTML parser sees them.
testing_support::TCommandResult ParseHtml(const std::string& file)
{
    const std::string script = file + ".py";
    testing_support::WriteFile(script,
                               "import sys, html.parser\n"
                               "class P(html.parser.HTMLParser):\n"
                               "    def __init__(s):\n"
                               "        super().__init__(convert_charrefs=True); s.tags=[]; s.text=[]\n"
                               "    def handle_starttag(s, t, a): s.tags.append(t)\n"
                               "    def handle_data(s, d): s.text.append(d)\n"
                               "p=P(); p.feed(open(sys.argv[1], encoding='utf-8', newline='').read()); p.close()\n"
                               "sys.stdout.write('TAGS ' + ' '.join(p.tags) + '\\n')\n"
                               "sys.stdout.write(''.join(p.text).replace('\\xa0', ' ').replace('\\r', ''))\n");
    return RunShell("python3 " + script + " " + file + " 2>&1");
}

TEST(HTML, TheErrorPageParsesToTheReportTextWithoutForeignMarkup)
{
    if (!HaveProgram("python3")) GTEST_SKIP() << "python3 is not installed";
    auto sample = reporttest::MakeSample(kInjection);
    TTavrelModuleOptions options("", false);
    options.SetHtmlTemplate("<html><body><h1>Failure</h1><%Html_Tag%></body></html>");
    const TErrorReport report = BuildReportText(sample->Sources, options);
    const TWebPage page = BuildErrorPage(report.Text, true, options);
    TempDir dir;
    testing_support::WriteFile(dir / "page.html", page.Html);
    const auto parsed = ParseHtml(dir / "page.html");
    ASSERT_EQ(parsed.ExitCode, 0) << parsed.Output;
    // The template's tags, the title put in front, the line breaks and the button; nothing from the message.
    const std::string tags = parsed.Output.substr(0, parsed.Output.find('\n'));
    EXPECT_EQ(tags.rfind("TAGS title html body h1 br br", 0), 0u) << tags;
    EXPECT_TRUE(tags.find("script") == std::string::npos && tags.find(" b ") == std::string::npos &&
                tags.find("evil") == std::string::npos)
        << tags;
    EXPECT_EQ(tags.substr(tags.size() - 9), " br input") << tags;
    const std::string text = parsed.Output.substr(parsed.Output.find('\n') + 1);
    EXPECT_EQ(text, "Error.Failure" + WithoutCR(report.Text)) << text;
    EXPECT_TRUE(Contains(page.Html, page.PageId));
    EXPECT_EQ(page.PageId.size(), std::string("<!-- TavrelLog ID: 01234567 -->").size());
}

TEST(HTML, TemplateRules)
{
    TTavrelModuleOptions options("", false);
    options.SetHtmlTemplate("<HTML><TITLE>Own</TITLE><%html_tag%>|<%HTML_TAG%></HTML>");
    EXPECT_EQ(ApplyHTMLTemplate("x", options, 0xABCDEF01).Html,
              "<HTML><TITLE>Own</TITLE>x|x</HTML><!-- TavrelLog ID: ABCDEF01 -->");
    options.SetHtmlTemplate("<p><%HTML_TAG%></p>");
    EXPECT_EQ(ApplyHTMLTemplate("<%HTML_TAG%>", options, 1).Html,
              "<title>Error.</title><p><%HTML_TAG%></p><!-- TavrelLog ID: 00000001 -->");
    options.SetHtmlTemplate(" \r\n\t ");
    EXPECT_TRUE(Contains(ApplyHTMLTemplate("body text", options, 1).Html, "body text"));
    EXPECT_EQ(EscapeHTML("a  b\r\n<&>\"'"), "a&nbsp;&nbsp;b<br>\r\n&lt;&amp;&gt;&quot;&#039;");
    EXPECT_EQ(WebErrorResponse("<p>"),
              "Status: 200 Error\r\nContent-Type: text/html\r\nContent-Length: 3\r\nContent:\r\n\r\n<p>");
}

TEST(CGI, ACrashingCgiProgramAnswersCurlWithTheErrorPage)
{
    if (!HaveProgram("python3") || !HaveProgram("curl")) GTEST_SKIP() << "python3 or curl is not installed";
    TempDir dir;
    // A server started as root runs its CGI programs as "nobody".
    ASSERT_EQ(RunShell("mkdir -p " + dir.path() + "/cgi-bin && cp " VEK_REPORT_CGI_PROGRAM " " + dir.path() +
                       "/cgi-bin/crash.cgi && chmod 755 " + dir.path() + " " + dir.path() + "/cgi-bin " + dir.path() +
                       "/cgi-bin/crash.cgi")
                  .ExitCode,
              0);
    const net_testing::TPeerProcess server(net_testing::kPython,
                                           {net_testing::PeerScript("http_peer.py"), dir.path(), "--cgi"});
    ASSERT_NE(server.Port(), 0) << server.Output();
    const std::string url =
        "http://127.0.0.1:" + std::to_string(server.Port()) + "/cgi-bin/crash.cgi?step=%3Cb%3Eone%3C/b%3E";
    const testing_support::TCommandResult answer = RunShell("curl -s -i --max-time 30 '" + url + "'");
    ASSERT_EQ(answer.ExitCode, 0) << answer.Output;
    const std::string& out = answer.Output;
    EXPECT_TRUE(Contains(out, "Status: 200 Error\r\n")) << out;
    EXPECT_TRUE(Contains(out, "Content-Type: text/html\r\n")) << out;
    const std::size_t body = out.find("Content:\r\n\r\n");
    ASSERT_NE(body, std::string::npos) << out;
    const std::string page = out.substr(body + 12);
    const std::size_t lengthAt = out.find("Content-Length: ");
    EXPECT_EQ(std::stoul(out.substr(lengthAt + 16)), page.size()) << out;
    EXPECT_EQ(page.rfind("<html><head><TITLE>Failed request</TITLE></head><body>", 0), 0u) << page;
    EXPECT_TRUE(Contains(page, "Access&nbsp;violation at address") || Contains(page, "Access violation at address"))
        << page;
    EXPECT_TRUE(Contains(page, "in module &#039;crash.cgi&#039;. Write of address 0000000000000030.")) << page;
    EXPECT_TRUE(Contains(page, "HandleRequest")) << page;
    // The query string went into the report as custom data, escaped.
    EXPECT_TRUE(Contains(page, "step=%3Cb%3Eone%3C/b%3E")) << page;
    EXPECT_TRUE(Contains(page, "<!-- TavrelLog ID: ")) << page;
    EXPECT_FALSE(Contains(page, "no failure")) << page;
}

} // namespace
