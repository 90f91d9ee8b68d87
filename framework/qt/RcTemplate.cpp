#include "framework/qt/RcTemplate.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

namespace marlet::rc {

namespace {

// The platform's constants that a dialog template uses.
const std::map<std::string, uint32_t>& Constants()
{
    static const std::map<std::string, uint32_t> constants = {
        {"WS_OVERLAPPED", 0},
        {"WS_POPUP", WS_POPUP},
        {"WS_CHILD", WS_CHILD},
        {"WS_MINIMIZE", 0x20000000u},
        {"WS_VISIBLE", WS_VISIBLE},
        {"WS_DISABLED", WS_DISABLED},
        {"WS_CLIPSIBLINGS", 0x04000000u},
        {"WS_CLIPCHILDREN", 0x02000000u},
        {"WS_MAXIMIZE", 0x01000000u},
        {"WS_CAPTION", WS_CAPTION},
        {"WS_BORDER", WS_BORDER},
        {"WS_DLGFRAME", 0x00400000u},
        {"WS_VSCROLL", WS_VSCROLL},
        {"WS_HSCROLL", WS_HSCROLL},
        {"WS_SYSMENU", WS_SYSMENU},
        {"WS_THICKFRAME", 0x00040000u},
        {"WS_GROUP", WS_GROUP},
        {"WS_TABSTOP", WS_TABSTOP},
        {"WS_MINIMIZEBOX", 0x00020000u},
        {"WS_MAXIMIZEBOX", 0x00010000u},
        {"DS_ABSALIGN", 0x1u},
        {"DS_SYSMODAL", 0x2u},
        {"DS_3DLOOK", 0x4u},
        {"DS_FIXEDSYS", 0x8u},
        {"DS_NOFAILCREATE", 0x10u},
        {"DS_LOCALEDIT", 0x20u},
        {"DS_SETFONT", DS_SETFONT},
        {"DS_MODALFRAME", DS_MODALFRAME},
        {"DS_NOIDLEMSG", 0x100u},
        {"DS_SETFOREGROUND", 0x200u},
        {"DS_CONTROL", 0x400u},
        {"DS_CENTER", 0x800u},
        {"DS_CENTERMOUSE", 0x1000u},
        {"DS_CONTEXTHELP", 0x2000u},
        {"DS_SHELLFONT", 0x48u},
        {"WS_EX_DLGMODALFRAME", WS_EX_DLGMODALFRAME},
        {"WS_EX_TOPMOST", 0x8u},
        {"WS_EX_TOOLWINDOW", 0x80u},
        {"WS_EX_WINDOWEDGE", 0x100u},
        {"WS_EX_CLIENTEDGE", WS_EX_CLIENTEDGE},
        {"WS_EX_CONTEXTHELP", 0x400u},
        {"WS_EX_RIGHT", 0x1000u},
        {"WS_EX_STATICEDGE", WS_EX_STATICEDGE},
        {"WS_EX_APPWINDOW", WS_EX_APPWINDOW},
        {"ES_LEFT", 0},
        {"ES_CENTER", ES_CENTER},
        {"ES_RIGHT", ES_RIGHT},
        {"ES_MULTILINE", ES_MULTILINE},
        {"ES_UPPERCASE", 0x8u},
        {"ES_LOWERCASE", 0x10u},
        {"ES_PASSWORD", 0x20u},
        {"ES_AUTOVSCROLL", ES_AUTOVSCROLL},
        {"ES_AUTOHSCROLL", ES_AUTOHSCROLL},
        {"ES_NOHIDESEL", 0x100u},
        {"ES_OEMCONVERT", 0x400u},
        {"ES_READONLY", ES_READONLY},
        {"ES_WANTRETURN", 0x1000u},
        {"ES_NUMBER", 0x2000u},
        {"SS_LEFT", 0},
        {"SS_CENTER", SS_CENTER},
        {"SS_RIGHT", SS_RIGHT},
        {"SS_ICON", SS_ICON},
        {"SS_LEFTNOWORDWRAP", SS_LEFTNOWORDWRAP},
        {"SS_NOPREFIX", SS_NOPREFIX},
        {"SS_CENTERIMAGE", 0x200u},
        {"SS_SUNKEN", 0x1000u},
        {"BS_PUSHBUTTON", 0},
        {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON},
        {"BS_CHECKBOX", 0x2u},
        {"BS_AUTOCHECKBOX", 0x3u},
        {"BS_RADIOBUTTON", 0x4u},
        {"BS_3STATE", 0x5u},
        {"BS_AUTO3STATE", 0x6u},
        {"BS_GROUPBOX", BS_GROUPBOX},
        {"BS_AUTORADIOBUTTON", 0x9u},
        {"BS_MULTILINE", 0x2000u},
        {"CBS_SIMPLE", CBS_SIMPLE},
        {"CBS_DROPDOWN", CBS_DROPDOWN},
        {"CBS_DROPDOWNLIST", CBS_DROPDOWNLIST},
        {"CBS_AUTOHSCROLL", 0x40u},
        {"CBS_OEMCONVERT", 0x80u},
        {"CBS_SORT", CBS_SORT},
        {"CBS_HASSTRINGS", 0x200u},
        {"CBS_NOINTEGRALHEIGHT", 0x400u},
        {"CBS_DISABLENOSCROLL", 0x800u},
        {"TBS_AUTOTICKS", TBS_AUTOTICKS},
        {"TBS_HORZ", 0},
        {"TBS_VERT", TBS_VERT},
        {"TBS_TOP", 0x4u},
        {"TBS_BOTTOM", 0},
        {"TBS_LEFT", 0x4u},
        {"TBS_RIGHT", 0},
        {"TBS_BOTH", 0x8u},
        {"TBS_NOTICKS", TBS_NOTICKS},
        {"IDOK", 1},
        {"IDCANCEL", 2},
        {"IDABORT", 3},
        {"IDRETRY", 4},
        {"IDIGNORE", 5},
        {"IDYES", 6},
        {"IDNO", 7},
        {"VS_VERSION_INFO", 1},
        {"LANG_NEUTRAL", 0},
        {"LANG_ENGLISH", 9},
        {"SUBLANG_NEUTRAL", 0},
        {"SUBLANG_DEFAULT", 1},
        {"SUBLANG_ENGLISH_US", 1},
    };
    return constants;
}

struct Token {
    enum Type { Number, String, Name, Punct, End } type = End;
    std::string text;
    uint32_t value = 0;
    int line = 0;
};

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

std::string Upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Blanks out comments, keeping line breaks and string literals as they are.
std::string StripComments(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            out += c;
            ++i;
            while (i < text.size() && text[i] != '\n') {
                out += text[i];
                if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] != '\n') {
                    out += text[++i];
                } else if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        out += text[++i]; // a doubled quote inside the string
                    } else {
                        ++i;
                        break;
                    }
                }
                ++i;
            }
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            while (i < text.size() && text[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            i += 2;
            while (i < text.size() && !(text[i] == '*' && i + 1 < text.size() && text[i + 1] == '/')) {
                if (text[i] == '\n')
                    out += '\n';
                ++i;
            }
            i += 2;
            out += ' ';
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

class Lexer {
public:
    Lexer(const std::map<std::string, std::string>& includes) : includes_(includes) {}

    bool Run(const std::string& text, const std::string& fileName, int depth)
    {
        if (depth > 8)
            return Fail(fileName, 0, "includes nested too deeply");
        std::istringstream lines(StripComments(text));
        std::string line;
        int number = 0;
        std::vector<bool> active; // one entry per open conditional
        while (std::getline(lines, line)) {
            ++number;
            size_t first = line.find_first_not_of(" \t\r");
            const bool on = Active(active);
            if (first != std::string::npos && line[first] == '#') {
                if (!Directive(line.substr(first + 1), fileName, number, depth, active, on))
                    return false;
                continue;
            }
            if (on && !Tokenize(line, number, tokens))
                return Fail(fileName, number, "cannot read this line");
        }
        if (!active.empty())
            return Fail(fileName, number, "#if without #endif");
        return true;
    }

    std::vector<Token> tokens;
    std::map<std::string, std::vector<Token>> macros;
    std::string error;

private:
    static bool Active(const std::vector<bool>& active)
    {
        for (bool on : active) {
            if (!on)
                return false;
        }
        return true;
    }

    bool Fail(const std::string& fileName, int line, const std::string& what)
    {
        error = fileName + ":" + std::to_string(line) + ": " + what;
        return false;
    }

    bool Directive(const std::string& body, const std::string& fileName, int number, int depth,
                   std::vector<bool>& active, bool on)
    {
        std::istringstream in(body);
        std::string word;
        in >> word;
        if (word == "ifdef" || word == "ifndef") {
            std::string name;
            in >> name;
            const bool defined = macros.count(name) != 0 || Constants().count(name) != 0;
            active.push_back(word == "ifdef" ? defined : !defined);
        } else if (word == "else") {
            if (active.empty())
                return Fail(fileName, number, "#else without #if");
            active.back() = !active.back();
        } else if (word == "endif") {
            if (active.empty())
                return Fail(fileName, number, "#endif without #if");
            active.pop_back();
        } else if (word == "if") {
            // Conditions on expressions are not needed by our scripts; skip their body.
            active.push_back(false);
        } else if (!on) {
            return true;
        } else if (word == "define") {
            std::string name;
            in >> name;
            if (name.find('(') != std::string::npos)
                return true; // function-like macros play no part in templates
            std::string rest;
            std::getline(in, rest);
            std::vector<Token> value;
            if (!Tokenize(rest, number, value))
                return Fail(fileName, number, "cannot read the value of " + name);
            macros[name] = value;
        } else if (word == "undef") {
            std::string name;
            in >> name;
            macros.erase(name);
        } else if (word == "include") {
            std::string rest;
            std::getline(in, rest);
            const size_t open = rest.find('"');
            const size_t close = open == std::string::npos ? open : rest.find('"', open + 1);
            if (open == std::string::npos || close == std::string::npos)
                return true; // <system header>: the constants are built in
            const std::string name = rest.substr(open + 1, close - open - 1);
            auto found = includes_.find(name);
            if (found == includes_.end())
                return Fail(fileName, number, "included file not available: " + name);
            return Run(found->second, name, depth + 1);
        }
        return true; // #pragma and the rest
    }

    static bool Tokenize(const std::string& line, int number, std::vector<Token>& out)
    {
        size_t i = 0;
        while (i < line.size()) {
            const char c = line[i];
            if (std::isspace(static_cast<unsigned char>(c)) != 0) {
                ++i;
                continue;
            }
            Token token;
            token.line = number;
            if (c == '"') {
                token.type = Token::String;
                ++i;
                bool closed = false;
                while (i < line.size()) {
                    char d = line[i++];
                    if (d == '"') {
                        if (i < line.size() && line[i] == '"') {
                            token.text += '"';
                            ++i;
                            continue;
                        }
                        closed = true;
                        break;
                    }
                    if (d == '\\' && i < line.size()) {
                        const char e = line[i++];
                        switch (e) {
                        case 'n':
                            d = '\n';
                            break;
                        case 'r':
                            d = '\r';
                            break;
                        case 't':
                            d = '\t';
                            break;
                        case 'a':
                            d = '\b';
                            break;
                        case '0':
                            d = '\0';
                            break;
                        default:
                            d = e; // \\ and \"
                            break;
                        }
                    }
                    token.text += d;
                }
                if (!closed)
                    return false;
            } else if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
                token.type = Token::Number;
                size_t end = i;
                while (end < line.size() && IsNameChar(line[end]))
                    ++end;
                token.text = line.substr(i, end - i);
                std::string digits = token.text;
                while (!digits.empty() && std::strchr("lLuU", digits.back()) != nullptr)
                    digits.pop_back();
                char* stop = nullptr;
                token.value = uint32_t(std::strtoul(digits.c_str(), &stop, 0));
                if (digits.empty() || *stop != '\0')
                    return false;
                i = end;
            } else if (IsNameStart(c)) {
                token.type = Token::Name;
                size_t end = i;
                while (end < line.size() && IsNameChar(line[end]))
                    ++end;
                token.text = line.substr(i, end - i);
                i = end;
            } else if (std::strchr(",|(){}-+~&", c) != nullptr) {
                token.type = Token::Punct;
                token.text = std::string(1, c);
                ++i;
            } else {
                return false;
            }
            out.push_back(std::move(token));
        }
        return true;
    }

    const std::map<std::string, std::string>& includes_;
};

class Parser {
public:
    Parser(std::vector<Token> tokens, const std::map<std::string, std::vector<Token>>& macros)
        : tokens_(std::move(tokens)), macros_(macros)
    {
    }

    bool Run(Resources& out)
    {
        while (!AtEnd()) {
            if (IsWord("LANGUAGE")) {
                Next();
                uint32_t ignored = 0;
                if (!Expression(ignored) || !Expect(",") || !Expression(ignored))
                    return false;
            } else if (IsWord("STRINGTABLE")) {
                Next();
                if (!StringTable(out))
                    return false;
            } else if (!Resource(out)) {
                return false;
            }
        }
        return true;
    }

    std::string error;

private:
    const Token& Peek(size_t ahead = 0) const
    {
        static const Token end;
        return pos_ + ahead < tokens_.size() ? tokens_[pos_ + ahead] : end;
    }
    bool AtEnd() const { return pos_ >= tokens_.size(); }
    const Token& Next() { return tokens_[pos_++]; }
    bool IsWord(const char* word, size_t ahead = 0) const
    {
        return Peek(ahead).type == Token::Name && Upper(Peek(ahead).text) == word;
    }
    bool IsPunct(const char* punct) const { return Peek().type == Token::Punct && Peek().text == punct; }
    bool IsBegin() const { return IsWord("BEGIN") || IsPunct("{"); }
    bool IsEnd() const { return IsWord("END") || IsPunct("}"); }
    bool Accept(const char* punct)
    {
        if (!IsPunct(punct))
            return false;
        Next();
        return true;
    }

    bool Fail(const std::string& what)
    {
        error = "line " +
                std::to_string(AtEnd() ? (tokens_.empty() ? 0 : tokens_.back().line) : Peek().line) + ": " +
                what;
        return false;
    }
    bool Expect(const char* punct) { return Accept(punct) || Fail(std::string("expected ") + punct); }

    // Numbers: | + - ~ NOT and parentheses over numbers, macros and constants.
    bool Expression(uint32_t& value)
    {
        if (!Additive(value))
            return false;
        while (Accept("|") || Accept("&")) {
            const bool orOp = tokens_[pos_ - 1].text == "|";
            uint32_t right = 0;
            if (!Additive(right))
                return false;
            value = orOp ? (value | right) : (value & right);
        }
        return true;
    }

    bool Additive(uint32_t& value)
    {
        if (!Unary(value))
            return false;
        while (IsPunct("+") || IsPunct("-")) {
            const bool plus = Next().text == "+";
            uint32_t right = 0;
            if (!Unary(right))
                return false;
            value = plus ? value + right : value - right;
        }
        return true;
    }

    bool Unary(uint32_t& value)
    {
        if (Accept("-")) {
            if (!Unary(value))
                return false;
            value = 0u - value;
            return true;
        }
        if (Accept("~") || (IsWord("NOT") && (Next(), true))) {
            if (!Unary(value))
                return false;
            value = ~value;
            return true;
        }
        return Primary(value);
    }

    bool Primary(uint32_t& value)
    {
        const Token& token = Peek();
        if (token.type == Token::Number) {
            value = Next().value;
            return true;
        }
        if (Accept("(")) {
            return Expression(value) && Expect(")");
        }
        if (token.type == Token::Name) {
            const std::string name = Next().text;
            return NameValue(name, value);
        }
        return Fail("expected a number");
    }

    bool NameValue(const std::string& name, uint32_t& value)
    {
        auto macro = macros_.find(name);
        if (macro != macros_.end()) {
            if (++depth_ > 16)
                return Fail("macro " + name + " refers to itself");
            Parser inner(macro->second, macros_);
            inner.depth_ = depth_;
            const bool ok = inner.Expression(value) && inner.AtEnd();
            --depth_;
            return ok || Fail("cannot evaluate " + name);
        }
        auto constant = Constants().find(name);
        if (constant != Constants().end()) {
            value = constant->second;
            return true;
        }
        return Fail("unknown name " + name);
    }

    // A style: terms joined by |, where NOT term clears bits of the style so far.
    bool Style(uint32_t& style)
    {
        do {
            const bool clear = IsWord("NOT") && (Next(), true);
            uint32_t term = 0;
            if (!Additive(term))
                return false;
            style = clear ? (style & ~term) : (style | term);
        } while (Accept("|"));
        return true;
    }

    bool Text(std::string& text)
    {
        if (Peek().type == Token::String) {
            text = Next().text;
            return true;
        }
        uint32_t value = 0;
        if (!Expression(value))
            return false;
        text = std::to_string(int32_t(value));
        return true;
    }

    bool Int(int& value)
    {
        uint32_t raw = 0;
        if (!Expression(raw))
            return false;
        value = int(int32_t(raw));
        return true;
    }

    // Memory options that some scripts, and compilers' listings, still write.
    void SkipMemoryOptions()
    {
        while (IsWord("DISCARDABLE") || IsWord("MOVEABLE") || IsWord("FIXED") || IsWord("PRELOAD") ||
               IsWord("LOADONCALL") || IsWord("PURE") || IsWord("IMPURE"))
            Next();
    }

    bool SkipBlock()
    {
        while (!AtEnd() && !IsBegin())
            Next();
        if (AtEnd())
            return Fail("expected BEGIN");
        int depth = 0;
        do {
            if (IsBegin())
                ++depth;
            else if (IsEnd())
                --depth;
            Next();
        } while (depth > 0 && !AtEnd());
        return depth == 0 || Fail("expected END");
    }

    bool StringTable(Resources& out)
    {
        while (!AtEnd() && !IsBegin())
            Next(); // memory and language options
        if (AtEnd())
            return Fail("expected BEGIN");
        Next();
        while (!IsEnd()) {
            if (AtEnd())
                return Fail("expected END");
            int id = 0;
            if (!Int(id))
                return false;
            Accept(",");
            if (Peek().type != Token::String)
                return Fail("expected a string");
            out.strings[id] = Next().text;
        }
        Next();
        return true;
    }

    bool Resource(Resources& out)
    {
        // The resource's name: a number, or a name that may stand for one.
        std::optional<int> id;
        const Token& nameToken = Next();
        if (nameToken.type == Token::Number) {
            id = int(nameToken.value);
        } else if (nameToken.type == Token::Name) {
            uint32_t value = 0;
            const size_t saved = pos_;
            if (macros_.count(nameToken.text) != 0 || Constants().count(nameToken.text) != 0) {
                if (!NameValue(nameToken.text, value))
                    return false;
                id = int(value);
            }
            pos_ = saved;
        } else if (nameToken.type != Token::String) {
            return Fail("expected a resource");
        }
        if (Peek().type != Token::Name && Peek().type != Token::Number)
            return Fail("expected a resource type");
        const std::string type = Upper(Next().text); // a number for types given by number
        SkipMemoryOptions();
        if (type == "DIALOG" || type == "DIALOGEX") {
            Dialog dialog;
            dialog.id = id.value_or(0);
            if (!DialogBody(dialog))
                return false;
            if (id)
                out.dialogs[*id] = std::move(dialog);
            return true;
        }
        SkipMemoryOptions();
        if (Peek().type == Token::String) {
            const std::string file = Next().text;
            if (type == "ICON" && id)
                out.iconFiles[*id] = file;
            return true;
        }
        return SkipBlock();
    }

    bool DialogBody(Dialog& dialog)
    {
        if (!Int(dialog.x) || !Expect(",") || !Int(dialog.y) || !Expect(",") || !Int(dialog.cx) ||
            !Expect(",") || !Int(dialog.cy))
            return false;
        if (Accept(",")) {
            int help = 0;
            if (!Int(help))
                return false;
        }
        bool styled = false;
        uint32_t added = 0;
        while (!IsBegin()) {
            if (AtEnd())
                return Fail("expected BEGIN");
            if (Peek().type != Token::Name)
                return Fail("expected a dialog option");
            const std::string option = Upper(Next().text);
            if (option == "STYLE") {
                styled = true;
                dialog.style = 0;
                if (!Style(dialog.style))
                    return false;
            } else if (option == "EXSTYLE") {
                if (!Style(dialog.exStyle))
                    return false;
            } else if (option == "CAPTION") {
                if (Peek().type != Token::String)
                    return Fail("expected the caption");
                dialog.caption = Next().text;
                added |= WS_CAPTION;
            } else if (option == "FONT") {
                if (!Int(dialog.fontPoints) || !Expect(","))
                    return false;
                if (Peek().type != Token::String)
                    return Fail("expected the font name");
                dialog.fontName = Next().text;
                added |= DS_SETFONT;
                while (Accept(",")) { // weight, italic, character set
                    uint32_t ignored = 0;
                    if (!Expression(ignored))
                        return false;
                }
            } else if (option == "LANGUAGE") {
                uint32_t ignored = 0;
                if (!Expression(ignored) || !Expect(",") || !Expression(ignored))
                    return false;
            } else if (option == "MENU" || option == "CLASS") {
                Next();
            } else if (option == "CHARACTERISTICS" || option == "VERSION") {
                uint32_t ignored = 0;
                if (!Expression(ignored))
                    return false;
            } else {
                return Fail("unknown dialog option " + option);
            }
        }
        if (!styled)
            dialog.style = WS_POPUP | WS_BORDER | WS_SYSMENU;
        dialog.style |= added;
        Next();
        while (!IsEnd()) {
            if (AtEnd())
                return Fail("expected END");
            Control control;
            if (!ControlStatement(control))
                return false;
            dialog.controls.push_back(std::move(control));
        }
        Next();
        return true;
    }

    static Kind KindOfClass(const std::string& className, uint32_t style)
    {
        const std::string name = Upper(className);
        if (name == "BUTTON")
            return (style & BS_TYPEMASK) == BS_GROUPBOX ? Kind::GroupBox : Kind::Button;
        if (name == "STATIC")
            return (style & SS_TYPEMASK) == SS_ICON ? Kind::Icon : Kind::Static;
        if (name == "EDIT")
            return Kind::Edit;
        if (name == "COMBOBOX")
            return Kind::ComboBox;
        if (name == "MSCTLS_TRACKBAR32")
            return Kind::Slider;
        return Kind::Other;
    }

    bool ControlStatement(Control& control)
    {
        if (Peek().type != Token::Name)
            return Fail("expected a control");
        const std::string keyword = Upper(Next().text);
        const uint32_t base = WS_CHILD | WS_VISIBLE;
        // Styles a statement always gives, and those it gives only when none are
        // written (as the resource compiler of the Windows build does).
        struct Statement {
            const char* keyword;
            const char* className;
            bool hasText;
            uint32_t always;
            uint32_t unlessStyled;
        };
        static const Statement statements[] = {
            {"LTEXT", "STATIC", true, 0, WS_GROUP},
            {"RTEXT", "STATIC", true, SS_RIGHT, WS_GROUP},
            {"CTEXT", "STATIC", true, SS_CENTER, WS_GROUP},
            {"ICON", "STATIC", true, SS_ICON, 0},
            {"PUSHBUTTON", "BUTTON", true, WS_TABSTOP, 0},
            {"DEFPUSHBUTTON", "BUTTON", true, BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
            {"GROUPBOX", "BUTTON", true, BS_GROUPBOX, 0},
            {"CHECKBOX", "BUTTON", true, 0x2u | WS_TABSTOP, 0},
            {"AUTOCHECKBOX", "BUTTON", true, 0x3u | WS_TABSTOP, 0},
            {"RADIOBUTTON", "BUTTON", true, 0x4u, 0},
            {"AUTORADIOBUTTON", "BUTTON", true, 0x9u, 0},
            {"EDITTEXT", "EDIT", false, WS_BORDER | WS_TABSTOP, 0},
            {"COMBOBOX", "COMBOBOX", false, 0, CBS_SIMPLE | WS_TABSTOP},
            {"LISTBOX", "LISTBOX", false, WS_BORDER, 0x1u},
            {"SCROLLBAR", "SCROLLBAR", false, 0, 0},
        };
        if (keyword == "CONTROL") {
            control.style = base;
            if (!Text(control.text) || !Expect(",") || !Int(control.id) || !Expect(","))
                return false;
            if (Peek().type == Token::String || Peek().type == Token::Name) {
                control.className = Next().text;
            } else if (Peek().type == Token::Number) {
                // A predefined class by its number.
                static const char* const classes[] = {"BUTTON",  "EDIT",      "STATIC",
                                                      "LISTBOX", "SCROLLBAR", "COMBOBOX"};
                const uint32_t atom = Next().value;
                if (atom < 0x80 || atom > 0x85)
                    return Fail("unknown window class " + std::to_string(atom));
                control.className = classes[atom - 0x80];
            } else {
                return Fail("expected a window class");
            }
            if (!Expect(",") || !Style(control.style) || !Expect(",") || !Int(control.x) || !Expect(",") ||
                !Int(control.y) || !Expect(",") || !Int(control.cx) || !Expect(",") || !Int(control.cy))
                return false;
            if (Accept(",") && !Style(control.exStyle))
                return false;
            if (Accept(",")) {
                int help = 0;
                if (!Int(help))
                    return false;
            }
            control.kind = KindOfClass(control.className, control.style);
            return true;
        }
        const Statement* statement = nullptr;
        for (const Statement& s : statements) {
            if (keyword == s.keyword)
                statement = &s;
        }
        if (statement == nullptr)
            return Fail("unknown control " + keyword);
        control.className = statement->className;
        control.style = base | statement->always;
        if (statement->hasText && (!Text(control.text) || !Expect(",")))
            return false;
        if (!Int(control.id) || !Expect(",") || !Int(control.x) || !Expect(",") || !Int(control.y))
            return false;
        const bool icon = keyword == "ICON";
        bool styled = false;
        if (!icon || IsPunct(",")) {
            if (!Expect(",") || !Int(control.cx) || !Expect(",") || !Int(control.cy))
                return false;
            if (Accept(",")) {
                styled = true;
                if (!Style(control.style))
                    return false;
                if (Accept(",") && !Style(control.exStyle))
                    return false;
                if (Accept(",")) {
                    int help = 0;
                    if (!Int(help))
                        return false;
                }
            }
        }
        if (!styled)
            control.style |= statement->unlessStyled;
        control.kind = KindOfClass(control.className, control.style);
        return true;
    }

    std::vector<Token> tokens_;
    const std::map<std::string, std::vector<Token>>& macros_;
    size_t pos_ = 0;
    int depth_ = 0;
};

} // namespace

bool Parse(const std::string& script, const std::map<std::string, std::string>& includes, Resources& out,
           std::string& error)
{
    Lexer lexer(includes);
    if (!lexer.Run(script, "script", 0)) {
        error = lexer.error;
        return false;
    }
    Parser parser(std::move(lexer.tokens), lexer.macros);
    Resources parsed;
    if (!parser.Run(parsed)) {
        error = parser.error;
        return false;
    }
    out = std::move(parsed);
    return true;
}

} // namespace marlet::rc
