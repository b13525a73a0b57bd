#include "platform/ui/rtf_reader.h"

#include <cctype>
#include <cstdlib>

#include "platform/ui/edit.h"

namespace ui {

std::string RichLine::Text() const
{
    std::string text;
    for (const RichRun& run : Runs) text += run.Text;
    return text;
}

std::string RichDocument::PlainText() const
{
    std::string text;
    for (size_t i = 0; i < Lines.size(); ++i) {
        if (i) text += '\n';
        text += Lines[i].Text();
    }
    return text;
}

namespace {

enum class Destination { dNormal, dFontTable, dColorTable, dSkip };

struct GroupState {
    gdi::TColor Color = gdi::RGB(0, 0, 0);
    bool Bold = false;
    Destination Dest = Destination::dNormal;
};

constexpr size_t kMaxDepth = 256;

class Reader {
public:
    explicit Reader(const std::string& rtf) : s_(rtf) { doc_.Lines.emplace_back(); }

    RichDocument Run()
    {
        while (pos_ < s_.size()) {
            const char c = s_[pos_];
            if (c == '{') {
                ++pos_;
                if (stack_.size() < kMaxDepth)
                    stack_.push_back(state_);
                else
                    ++overflow_;
            } else if (c == '}') {
                ++pos_;
                EndGroup();
            } else if (c == '\\') {
                ++pos_;
                ControlWord();
            } else if (c == '\r' || c == '\n') {
                ++pos_;
            } else {
                ++pos_;
                Char(static_cast<unsigned char>(c));
            }
        }
        FlushFont();
        return std::move(doc_);
    }

private:
    void EndGroup()
    {
        if (overflow_) {
            --overflow_;
            return;
        }
        if (state_.Dest == Destination::dFontTable) FlushFont();
        if (stack_.empty()) return; // an unbalanced "}" is passed over
        state_ = stack_.back();
        stack_.pop_back();
    }

    void FlushFont()
    {
        if (doc_.FontFace.empty() && !fontName_.empty()) {
            while (!fontName_.empty() && fontName_.back() == ' ') fontName_.pop_back();
            doc_.FontFace = fontName_;
        }
        fontName_.clear();
    }

    void Char(unsigned char c)
    {
        switch (state_.Dest) {
        case Destination::dSkip: return;
        case Destination::dFontTable:
            if (c == ';') {
                FlushFont();
                fontDone_ = true;
            } else if (!fontDone_) {
                fontName_ += static_cast<char>(c);
            }
            return;
        case Destination::dColorTable:
            if (c == ';') {
                colors_.push_back(
                    gdi::RGB(static_cast<uint8_t>(red_), static_cast<uint8_t>(green_), static_cast<uint8_t>(blue_)));
                red_ = green_ = blue_ = 0;
            }
            return;
        case Destination::dNormal: Append(std::string(1, static_cast<char>(c))); return;
        }
    }

    void Append(const std::string& utf8)
    {
        if (state_.Dest != Destination::dNormal) return;
        if (skipNext_ > 0) {
            --skipNext_;
            return;
        }
        RichLine& line = doc_.Lines.back();
        if (line.Runs.empty() || line.Runs.back().Color != state_.Color || line.Runs.back().Bold != state_.Bold)
            line.Runs.push_back(RichRun{{}, state_.Color, state_.Bold});
        line.Runs.back().Text += utf8;
    }

    void AppendCode(unsigned code)
    {
        if (code >= 0xD800 && code < 0xDC00) {
            highSurrogate_ = code;
            return;
        }
        if (code >= 0xDC00 && code < 0xE000) {
            if (!highSurrogate_) return;
            code = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (code - 0xDC00);
        }
        highSurrogate_ = 0;
        if (code == 0) return;
        Append(EncodeUtf8(static_cast<char32_t>(code)));
    }

    void NewLine()
    {
        if (state_.Dest != Destination::dNormal) return;
        doc_.Lines.emplace_back();
    }

    void ControlWord()
    {
        if (pos_ >= s_.size()) return;
        const char c = s_[pos_];
        if (c == '\\' || c == '{' || c == '}') {
            ++pos_;
            Append(std::string(1, c));
            return;
        }
        if (c == '\'') {
            ++pos_;
            unsigned value = 0;
            int digits = 0;
            while (digits < 2 && pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_]))) {
                value = value * 16 + static_cast<unsigned>(std::stoi(std::string(1, s_[pos_]), nullptr, 16));
                ++pos_;
                ++digits;
            }
            if (digits) AppendCode(value); // a byte of the Latin page
            return;
        }
        if (c == '*') {
            ++pos_;
            state_.Dest = Destination::dSkip;
            return;
        }
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            ++pos_; // a control symbol we do not use ("\~", "\-", a line end)
            return;
        }
        std::string word;
        while (pos_ < s_.size() && std::isalpha(static_cast<unsigned char>(s_[pos_])) && word.size() < 32)
            word += s_[pos_++];
        bool hasNumber = false;
        long number = 0;
        bool negative = false;
        if (pos_ < s_.size() && s_[pos_] == '-') {
            negative = true;
            ++pos_;
        }
        int digits = 0;
        while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) {
            if (digits < 9) number = number * 10 + (s_[pos_] - '0');
            ++digits;
            ++pos_;
            hasNumber = true;
        }
        if (negative) number = -number;
        if (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
        Apply(word, hasNumber, number);
    }

    void Apply(const std::string& word, bool hasNumber, long number)
    {
        if (word == "par" || word == "line")
            NewLine();
        else if (word == "tab")
            Append("\t");
        else if (word == "b")
            state_.Bold = !hasNumber || number != 0;
        else if (word == "cf") {
            const size_t index = number < 0 ? 0 : static_cast<size_t>(number);
            // Entry 0 is the "auto" colour (the empty first entry of the table).
            state_.Color = index > 0 && index < colors_.size() ? colors_[index] : gdi::RGB(0, 0, 0);
        } else if (word == "fs") {
            if (doc_.PointSize == 0 && number > 0) doc_.PointSize = static_cast<int>(std::min(number, 2000L) / 2);
        } else if (word == "u") {
            long code = number < 0 ? number + 65536 : number;
            AppendCode(static_cast<unsigned>(code & 0xFFFF));
            skipNext_ = 1; // the fallback character that follows
            return;
        } else if (word == "fonttbl") {
            state_.Dest = Destination::dFontTable;
            fontDone_ = false;
        } else if (word == "colortbl")
            state_.Dest = Destination::dColorTable;
        else if (word == "red")
            red_ = static_cast<int>(std::clamp(number, 0L, 255L));
        else if (word == "green")
            green_ = static_cast<int>(std::clamp(number, 0L, 255L));
        else if (word == "blue")
            blue_ = static_cast<int>(std::clamp(number, 0L, 255L));
        else if (word == "f" && state_.Dest == Destination::dFontTable)
            fontName_.clear();
        else if (word == "info" || word == "stylesheet" || word == "pict" || word == "header" || word == "footer")
            state_.Dest = Destination::dSkip;
        skipNext_ = 0;
    }

    const std::string& s_;
    size_t pos_ = 0;
    RichDocument doc_;
    GroupState state_;
    std::vector<GroupState> stack_;
    size_t overflow_ = 0;
    std::vector<gdi::TColor> colors_;
    int red_ = 0, green_ = 0, blue_ = 0;
    std::string fontName_;
    bool fontDone_ = false;
    unsigned highSurrogate_ = 0;
    int skipNext_ = 0;
};

} // namespace

RichDocument ParseRTF(const std::string& rtf) { return Reader(rtf).Run(); }

} // namespace ui
