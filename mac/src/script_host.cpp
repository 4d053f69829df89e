#include "script_host.h"

#include <array>
#include <optional>
#include <utility>

namespace qs::mac {

namespace {

// The scripts are a few hundred bytes; anything much longer is not one.
constexpr std::size_t kMaxScriptSize = 64 * 1024;
// The scripts nest three deep (try, tell, if).
constexpr int kMaxDepth = 16;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

// The characters a word of a command may hold. Nothing of a shell's syntax
// (blanks aside, which separate the words) can get through.
bool isCommandChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
    case '/':
    case '.':
    case '_':
    case '-':
    case ':':
    case '@':
        return true;
    default:
        return false;
    }
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    out += s;
    out += '"';
    return out;
}

// ---------------------------------------------------------------------------
// Words of one line.

enum class Tok { Word, String, Open, Close };

struct Token {
    Tok type;
    std::string_view text;  // a string without its quotes
};

// Splits a line into words, strings and parentheses. On error returns
// false with the reason in `error`.
bool tokenize(std::string_view line, std::vector<Token>& out, std::string& error) {
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (isBlank(c)) {
            ++i;
        } else if (c == '(' || c == ')') {
            out.push_back({c == '(' ? Tok::Open : Tok::Close, line.substr(i, 1)});
            ++i;
        } else if (c == '"') {
            const std::size_t start = ++i;
            while (i < line.size() && line[i] != '"') {
                if (line[i] == '\\') {
                    error = "backslash in a string";
                    return false;
                }
                if (isControl(line[i])) {
                    error = "control character in a string";
                    return false;
                }
                ++i;
            }
            if (i == line.size()) {
                error = "unterminated string";
                return false;
            }
            out.push_back({Tok::String, line.substr(start, i - start)});
            ++i;
        } else {
            const std::size_t start = i;
            while (i < line.size() && !isBlank(line[i]) && line[i] != '"' && line[i] != '(' && line[i] != ')') ++i;
            out.push_back({Tok::Word, line.substr(start, i - start)});
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Commands of "do shell script".

// A file or folder operand: absolute, naming something below the root, with
// no ".." step.
bool isPlainPath(std::string_view p) {
    if (p.empty() || p[0] != '/') return false;
    bool named = false;
    std::size_t i = 0;
    while (i < p.size()) {
        while (i < p.size() && p[i] == '/') ++i;
        const std::size_t start = i;
        while (i < p.size() && p[i] != '/') ++i;
        const std::string_view step = p.substr(start, i - start);
        if (step == "..") return false;
        if (!step.empty()) named = true;
    }
    return named;
}

// "//USER:@HOST/SHARE"
bool isGuestShare(std::string_view s) {
    if (s.substr(0, 2) != "//") return false;
    s.remove_prefix(2);
    const std::size_t sep = s.find(":@");
    if (sep == std::string_view::npos || sep == 0) return false;
    const std::string_view user = s.substr(0, sep);
    s.remove_prefix(sep + 2);
    const std::size_t slash = s.find('/');
    if (slash == std::string_view::npos || slash == 0) return false;
    const std::string_view host = s.substr(0, slash);
    const std::string_view share = s.substr(slash + 1);
    if (share.empty()) return false;
    for (char c : user)
        if (c == ':' || c == '@' || c == '/') return false;
    for (char c : host)
        if (c == '@' || c == '/') return false;
    return share.find_first_of("@/") == std::string_view::npos;
}

void splitWords(std::string_view text, std::vector<std::string>& words) {
    std::size_t i = 0;
    while (i < text.size()) {
        if (isBlank(text[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < text.size() && !isBlank(text[i])) ++i;
        words.emplace_back(text.substr(start, i - start));
    }
}

// Splits a command text into its argument vector and checks it against the
// commands the scripts use.
bool parseCommand(std::string_view text, std::vector<std::string>& argv, std::string& error) {
    for (char c : text) {
        if (!isBlank(c) && !isCommandChar(c)) {
            error = "character not allowed in a command";
            return false;
        }
    }
    splitWords(text, argv);
    if (argv.empty()) {
        error = "empty command";
        return false;
    }
    const std::string& name = argv[0];
    const bool recursive = name == "rm" && argv.size() >= 2 && argv[1] == "-rf";
    std::size_t expected = 2;
    if (name == "mount_smbfs" || recursive) {
        expected = 3;
    } else if (name != "rm" && name != "touch" && name != "mkdir") {
        error = "unknown command " + quoted(name);
        return false;
    }
    for (std::size_t k = 1; k < argv.size(); ++k) {
        if (argv[k][0] == '-' && !(recursive && k == 1)) {
            error = "option " + quoted(argv[k]) + " not allowed for " + quoted(name);
            return false;
        }
    }
    if (argv.size() < expected) {
        error = "missing argument for " + quoted(name);
        return false;
    }
    if (argv.size() > expected) {
        error = "extra argument for " + quoted(name);
        return false;
    }
    if (name == "mount_smbfs" && !isGuestShare(argv[1])) {
        error = "bad share address for \"mount_smbfs\"";
        return false;
    }
    // The file or folder is always the last word.
    if (!isPlainPath(argv.back())) {
        error = "bad path " + quoted(argv.back()) + " for " + quoted(name);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The statement tree.

enum class Kind { Try, Tell, If, Eject, Mount, Shell };

struct Node {
    Kind kind = Kind::Try;
    int line = 0;
    std::string text;               // the statement's string
    std::vector<std::string> argv;  // Shell: the command, checked
    bool negate = false;            // If: "if not (...)"
    bool hasAlt = false;            // Try: "on error"; If: "else"
    std::vector<Node> body;
    std::vector<Node> alt;
};

using Block = std::vector<Node>;

// One statement as read from its line.
enum class Stmt { Blank, Try, OnError, EndTry, Tell, EndTell, If, Else, EndIf, Eject, Mount, Shell };

const char* endWordOf(Kind k) {
    switch (k) {
    case Kind::Try:
        return "end try";
    case Kind::Tell:
        return "end tell";
    default:
        return "end if";
    }
}

const char* openWordOf(Stmt s) {
    switch (s) {
    case Stmt::OnError:
    case Stmt::EndTry:
        return "try";
    case Stmt::EndTell:
        return "tell";
    default:
        return "if";
    }
}

const char* stmtWord(Stmt s) {
    switch (s) {
    case Stmt::OnError:
        return "on error";
    case Stmt::EndTry:
        return "end try";
    case Stmt::EndTell:
        return "end tell";
    case Stmt::Else:
        return "else";
    case Stmt::EndIf:
        return "end if";
    default:
        return "";
    }
}

class Parser {
public:
    Parser(std::string_view text, bool patterns) : patterns_(patterns) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t nl = text.find('\n', start);
            if (nl == std::string_view::npos) {
                lines_.push_back(text.substr(start));
                break;
            }
            lines_.push_back(text.substr(start, nl - start));
            start = nl + 1;
        }
    }

    // The whole text, or nothing with error() and errorLine() set.
    std::optional<Block> parse() {
        Block root;
        const Stmt end = parseBlock(root, 0, false);
        if (failed_) return std::nullopt;
        if (end != Stmt::Blank) {
            fail(quoted(stmtWord(end)) + " without " + quoted(openWordOf(end)));
            return std::nullopt;
        }
        return root;
    }

    const std::string& error() const { return error_; }
    int errorLine() const { return errorLine_; }

private:
    void fail(std::string message) { failAt(line_, std::move(message)); }
    void failAt(int line, std::string message) {
        failed_ = true;
        error_ = std::move(message);
        errorLine_ = line;
    }

    // Reads statements into `out` up to the first one that closes or splits
    // a block, and returns that one (Blank at the end of the text, or on
    // error with failed_ set).
    Stmt parseBlock(Block& out, int depth, bool inTell) {
        while (next_ < lines_.size()) {
            line_ = static_cast<int>(++next_);
            Node node{};
            node.line = line_;
            const Stmt s = readStatement(lines_[next_ - 1], node, inTell);
            if (failed_) return Stmt::Blank;
            switch (s) {
            case Stmt::Blank:
                continue;
            case Stmt::OnError:
            case Stmt::EndTry:
            case Stmt::EndTell:
            case Stmt::Else:
            case Stmt::EndIf:
                return s;
            case Stmt::Eject:
            case Stmt::Mount:
            case Stmt::Shell:
                out.push_back(std::move(node));
                continue;
            case Stmt::Try:
            case Stmt::Tell:
            case Stmt::If:
                break;
            }
            if (depth + 1 > kMaxDepth) {
                fail("blocks nested too deeply");
                return Stmt::Blank;
            }
            const bool innerTell = inTell || s == Stmt::Tell;
            const Stmt split = s == Stmt::Try ? Stmt::OnError : s == Stmt::If ? Stmt::Else : Stmt::Blank;
            Stmt end = parseBlock(node.body, depth + 1, innerTell);
            if (failed_) return Stmt::Blank;
            if (end == split && split != Stmt::Blank) {
                node.hasAlt = true;
                end = parseBlock(node.alt, depth + 1, innerTell);
                if (failed_) return Stmt::Blank;
                if (end == split) {
                    fail("second " + quoted(stmtWord(split)));
                    return Stmt::Blank;
                }
            }
            const char* want = endWordOf(node.kind);
            if (end == Stmt::Blank) {
                const char* open = node.kind == Kind::Try ? "try" : node.kind == Kind::Tell ? "tell" : "if";
                failAt(node.line, quoted(open) + " without " + quoted(want));
                return Stmt::Blank;
            }
            if (std::string_view(stmtWord(end)) != want) {
                fail(quoted(stmtWord(end)) + " where " + quoted(want) + " is expected");
                return Stmt::Blank;
            }
            out.push_back(std::move(node));
        }
        return Stmt::Blank;
    }

    Stmt readStatement(std::string_view line, Node& node, bool inTell) {
        std::vector<Token> t;
        std::string error;
        if (!tokenize(line, t, error)) {
            fail(std::move(error));
            return Stmt::Blank;
        }
        if (t.empty()) return Stmt::Blank;
        if (t[0].type != Tok::Word) {
            fail("unknown statement");
            return Stmt::Blank;
        }
        const auto word = [&](std::size_t i, std::string_view w) {
            return i < t.size() && t[i].type == Tok::Word && t[i].text == w;
        };
        const auto string = [&](std::size_t i) { return i < t.size() && t[i].type == Tok::String; };
        const std::string_view kw = t[0].text;
        const std::size_t n = t.size();

        if (kw == "try") {
            if (n == 1) {
                node.kind = Kind::Try;
                return Stmt::Try;
            }
        } else if (kw == "on") {
            if (n == 2 && word(1, "error")) return Stmt::OnError;
        } else if (kw == "end") {
            if (n == 2 && word(1, "try")) return Stmt::EndTry;
            if (n == 2 && word(1, "tell")) return Stmt::EndTell;
            if (n == 2 && word(1, "if")) return Stmt::EndIf;
        } else if (kw == "else") {
            if (n == 1) return Stmt::Else;
        } else if (kw == "tell") {
            if (n == 3 && word(1, "application") && string(2)) {
                if (t[2].text != "Finder") {
                    fail("only application \"Finder\" is known");
                    return Stmt::Blank;
                }
                node.kind = Kind::Tell;
                node.text = t[2].text;
                return Stmt::Tell;
            }
        } else if (kw == "if") {
            // if [not] ( exists [the] disk "NAME" ) then
            std::size_t i = 1;
            node.negate = word(i, "not");
            if (node.negate) ++i;
            if (i < n && t[i].type == Tok::Open && word(i + 1, "exists")) {
                i += 2;
                if (word(i, "the")) ++i;
                if (word(i, "disk") && string(i + 1) && i + 2 < n && t[i + 2].type == Tok::Close &&
                    word(i + 3, "then") && i + 4 == n) {
                    if (!inTell) {
                        fail("\"exists disk\" outside tell application \"Finder\"");
                        return Stmt::Blank;
                    }
                    node.kind = Kind::If;
                    node.text = t[i + 1].text;
                    return Stmt::If;
                }
            }
        } else if (kw == "eject") {
            if (n == 2 && string(1)) {
                if (!inTell) {
                    fail("\"eject\" outside tell application \"Finder\"");
                    return Stmt::Blank;
                }
                node.kind = Kind::Eject;
                node.text = t[1].text;
                return Stmt::Eject;
            }
        } else if (kw == "mount") {
            if (n == 3 && word(1, "volume") && string(2)) {
                node.kind = Kind::Mount;
                node.text = t[2].text;
                return Stmt::Mount;
            }
        } else if (kw == "do") {
            if (n == 4 && word(1, "shell") && word(2, "script") && string(3)) {
                node.kind = Kind::Shell;
                node.text = t[3].text;
                if (patterns_) {
                    splitWords(node.text, node.argv);
                } else if (!parseCommand(node.text, node.argv, error)) {
                    fail(std::move(error));
                    return Stmt::Blank;
                }
                return Stmt::Shell;
            }
        } else {
            fail("unknown statement");
            return Stmt::Blank;
        }
        fail("malformed " + quoted(kw) + " statement");
        return Stmt::Blank;
    }

    std::vector<std::string_view> lines_;
    std::size_t next_ = 0;
    int line_ = 0;
    bool patterns_;
    bool failed_ = false;
    std::string error_;
    int errorLine_ = 0;
};

// ---------------------------------------------------------------------------
// Whether a text is one of the scripts: the same statements in the same
// blocks, each string matching its template's string with any text in place
// of "%@". A command is compared word by word, and there what stands for
// "%@" may hold no "/", so a value can neither add a word nor leave the
// template's folder.

bool matchText(std::string_view pattern, std::string_view text, bool command) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const std::size_t at = pattern.find("%@");
        if (at == std::string_view::npos) {
            pieces.push_back(pattern);
            break;
        }
        pieces.push_back(pattern.substr(0, at));
        pattern.remove_prefix(at + 2);
    }
    const std::size_t n = text.size();
    std::vector<char> reach(n + 1, 0);
    if (text.substr(0, pieces[0].size()) != pieces[0]) return false;
    reach[pieces[0].size()] = 1;
    for (std::size_t p = 1; p < pieces.size(); ++p) {
        const std::string_view piece = pieces[p];
        std::vector<char> next(n + 1, 0);
        bool active = false;  // a stretch of allowed characters from a reached place ends at q
        for (std::size_t q = 0; q <= n; ++q) {
            if (q > 0 && active) {
                const char c = text[q - 1];
                if (command && (isBlank(c) || c == '/')) active = false;
            }
            if (reach[q]) active = true;
            if (active && text.substr(q, piece.size()) == piece) next[q + piece.size()] = 1;
        }
        reach = std::move(next);
    }
    return reach[n] != 0;
}

bool matchBlock(const Block& script, const Block& templ);

bool matchNode(const Node& s, const Node& t) {
    if (s.kind != t.kind || s.negate != t.negate || s.hasAlt != t.hasAlt) return false;
    if (s.kind == Kind::Shell) {
        if (s.argv.size() != t.argv.size()) return false;
        for (std::size_t i = 0; i < s.argv.size(); ++i)
            if (!matchText(t.argv[i], s.argv[i], true)) return false;
    } else if (!matchText(t.text, s.text, false)) {
        return false;
    }
    return matchBlock(s.body, t.body) && matchBlock(s.alt, t.alt);
}

bool matchBlock(const Block& script, const Block& templ) {
    if (script.size() != templ.size()) return false;
    for (std::size_t i = 0; i < script.size(); ++i)
        if (!matchNode(script[i], templ[i])) return false;
    return true;
}

const std::vector<Block>& templateTrees() {
    static const std::vector<Block> trees = [] {
        const std::array<const char*, 8> texts{
            kScriptRemoveMarker, kScriptMountUser, kScriptMountCredentials, kScriptMountGuest,
            kScriptMountPlain,   kScriptDiskCheck, kScriptTestMount,        kScriptEject,
        };
        std::vector<Block> out;
        for (const char* text : texts) {
            Parser parser(text, true);
            if (auto tree = parser.parse()) out.push_back(std::move(*tree));
        }
        return out;
    }();
    return trees;
}

bool isKnownScript(const Block& script) {
    for (const Block& t : templateTrees())
        if (matchBlock(script, t)) return true;
    return false;
}

// ---------------------------------------------------------------------------
// Running.

struct Failure {
    int line;
    std::string message;
};

std::optional<Failure> run(const Block& block, ScriptHost& host);

std::optional<Failure> runCommand(const Node& node, ScriptHost& host) {
    std::vector<std::string> argv = node.argv;
    std::string& path = argv.back();  // every command ends with its file or folder
    std::string mapped = host.mapPath(path);
    if (mapped.empty()) return Failure{node.line, "path " + quoted(path) + " refused"};
    path = std::move(mapped);
    if (!host.runCommand(argv)) return Failure{node.line, "command " + quoted(node.text) + " failed"};
    return std::nullopt;
}

std::optional<Failure> run(const Node& node, ScriptHost& host) {
    switch (node.kind) {
    case Kind::Try:
        if (run(node.body, host)) {
            if (node.hasAlt) return run(node.alt, host);
        }
        return std::nullopt;
    case Kind::Tell:
        return run(node.body, host);
    case Kind::If:
        if (host.diskExists(node.text) != node.negate) return run(node.body, host);
        if (node.hasAlt) return run(node.alt, host);
        return std::nullopt;
    case Kind::Eject:
        if (!host.eject(node.text)) return Failure{node.line, "eject " + quoted(node.text) + " failed"};
        return std::nullopt;
    case Kind::Mount:
        // The address may hold a password: it stays out of the message.
        if (!host.mountVolume(node.text)) return Failure{node.line, "mount volume failed"};
        return std::nullopt;
    case Kind::Shell:
        return runCommand(node, host);
    }
    return std::nullopt;
}

std::optional<Failure> run(const Block& block, ScriptHost& host) {
    for (const Node& node : block)
        if (auto failure = run(node, host)) return failure;
    return std::nullopt;
}

ScriptResult refused(std::string error, int line) {
    ScriptResult r;
    r.ok = false;
    r.compiled = false;
    r.error = std::move(error);
    r.line = line;
    return r;
}

}  // namespace

ScriptResult runScript(std::string_view text, ScriptHost& host) {
    if (text.size() > kMaxScriptSize) return refused("script too long", 0);
    Parser parser(text, false);
    const std::optional<Block> tree = parser.parse();
    if (!tree) return refused(parser.error(), parser.errorLine());
    if (!isKnownScript(*tree)) return refused("not one of the known scripts", 0);

    ScriptResult result;
    if (auto failure = run(*tree, host)) {
        result.ok = false;
        result.error = std::move(failure->message);
        result.line = failure->line;
    }
    return result;
}

std::string composeScript(std::string_view templ, const std::vector<std::string>& args) {
    std::string out;
    out.reserve(templ.size());
    std::size_t next = 0;
    for (;;) {
        const std::size_t at = templ.find("%@");
        if (at == std::string_view::npos) {
            out += templ;
            return out;
        }
        out += templ.substr(0, at);
        if (next < args.size()) out += args[next];
        ++next;
        templ.remove_prefix(at + 2);
    }
}

}  // namespace qs::mac
