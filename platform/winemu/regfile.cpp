// registry.reg: the whole registry of a machine image as REGEDIT4 text, written so that reading
// it back gives every key (empty ones too) and every value with its exact type, bytes and count.
#include "winemu/machine.h"

#include <cstdio>

namespace winemu {

namespace {

// regedit starts a continuation line once a hex line reaches this width.
constexpr size_t kHexLineWidth = 76;

std::string Escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n': // only value names get here; text data with line ends goes out as hex
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A REG_SZ that is plain text followed by exactly one zero, which a quoted string gives back.
bool IsPlainString(const std::vector<BYTE>& data) {
    if (data.empty() || data.back() != 0)
        return false;
    for (size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0 || data[i] == '\n' || data[i] == '\r')
            return false;
    }
    return true;
}

void AppendHex(std::string& out, std::string prefix, const std::vector<BYTE>& data) {
    std::string line = std::move(prefix);
    for (size_t i = 0; i < data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        line += byte;
        if (i + 1 < data.size()) {
            line += ',';
            if (line.size() >= kHexLineWidth) {
                out += line + "\\\n";
                line = "  ";
            }
        }
    }
    out += line + "\n";
}

void AppendValue(std::string& out, const RegValue& value) {
    std::string prefix = value.name.empty() ? "@=" : "\"" + Escaped(value.name) + "\"=";
    if (value.type == REG_SZ && IsPlainString(value.data)) {
        std::string_view text(reinterpret_cast<const char*>(value.data.data()),
                              value.data.size() - 1);
        out += prefix + "\"" + Escaped(text) + "\"\n";
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        DWORD d = static_cast<DWORD>(value.data[0]) | static_cast<DWORD>(value.data[1]) << 8 |
                  static_cast<DWORD>(value.data[2]) << 16 | static_cast<DWORD>(value.data[3]) << 24;
        char number[16];
        std::snprintf(number, sizeof number, "%08x", static_cast<unsigned>(d));
        out += prefix + "dword:" + number + "\n";
    } else if (value.type == REG_BINARY) {
        AppendHex(out, prefix + "hex:", value.data);
    } else {
        char type[24];
        std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
        AppendHex(out, prefix + type, value.data);
    }
}

void AppendKey(std::string& out, const RegKey& key, bool isRoot) {
    // A root is implied by its subkeys; it gets a section of its own only for its values.
    if (!isRoot || !key.values.empty()) {
        out += "[" + key.Path() + "]\n";
        for (const RegValue& value : key.values)
            AppendValue(out, value);
        out += "\n";
    }
    for (const auto& [name, child] : key.subkeys)
        AppendKey(out, *child, false);
}

// ---------------------------------------------------------------------------------------------
// Reading

class RegReader {
  public:
    RegReader(std::string_view text, const std::string& fileName)
        : text_(text), fileName_(fileName) {}

    Registry Read() {
        Registry registry;
        if (text_.substr(0, 3) == "\xEF\xBB\xBF")
            pos_ = 3;
        std::string_view header;
        if (!NextLine(header) || TrimRight(header) != "REGEDIT4")
            Fail("the first line is not REGEDIT4");
        RegKey* key = nullptr;
        std::string_view line;
        while (NextLine(line)) {
            std::string_view body = TrimLeft(line);
            if (body.empty() || body[0] == ';')
                continue;
            if (body[0] == '[')
                key = &ReadKeyLine(registry, TrimRight(body));
            else if (body[0] == '"' || body[0] == '@')
                ReadValueLine(key, body);
            else
                Fail("neither a [key] nor a value line");
        }
        return registry;
    }

  private:
    [[noreturn]] void Fail(const std::string& message) const {
        throw BootError(fileName_, lineNumber_, message);
    }

    // The next physical line without its line end (LF or CRLF); false at the end of the text.
    bool NextLine(std::string_view& line) {
        if (pos_ >= text_.size())
            return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos)
            end = text_.size();
        line = text_.substr(pos_, end - pos_);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos_ = end + 1;
        ++lineNumber_;
        return true;
    }

    static std::string_view TrimLeft(std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
            s.remove_prefix(1);
        return s;
    }

    static std::string_view TrimRight(std::string_view s) {
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
            s.remove_suffix(1);
        return s;
    }

    RegKey& ReadKeyLine(Registry& registry, std::string_view body) {
        if (body.size() < 2 || body.back() != ']')
            Fail("key line without a closing bracket");
        std::string_view path = body.substr(1, body.size() - 2);
        size_t slash = path.find('\\');
        std::string_view root = path.substr(0, slash);
        if (!NameEquals(root, "HKEY_LOCAL_MACHINE") && !NameEquals(root, "HKEY_CURRENT_USER"))
            Fail("unknown root key \"" + std::string(root) + "\"");
        if (slash != std::string_view::npos) {
            std::string_view rest = path.substr(slash + 1);
            if (!rest.empty() && rest.back() == '\\')
                rest.remove_suffix(1); // a trailing backslash, as the registry functions allow
            if (!rest.empty() && (rest.front() == '\\' || rest.back() == '\\' ||
                                  rest.find("\\\\") != std::string_view::npos))
                Fail("empty key name in \"" + std::string(path) + "\"");
        }
        return registry.Create(path);
    }

    // A quoted string starting at s[0] == '"'; s is left after the closing quote.
    std::string ReadQuoted(std::string_view& s) {
        std::string out;
        size_t i = 1;
        for (; i < s.size() && s[i] != '"'; ++i) {
            if (s[i] != '\\') {
                out += s[i];
                continue;
            }
            if (++i == s.size())
                Fail("missing closing quote");
            switch (s[i]) {
            case '\\':
            case '"':
                out += s[i];
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                Fail(std::string("bad escape \\") + s[i]);
            }
        }
        if (i >= s.size())
            Fail("missing closing quote");
        s.remove_prefix(i + 1);
        return out;
    }

    static bool ParseHexNumber(std::string_view s, size_t maxDigits, DWORD& number) {
        if (s.empty() || s.size() > maxDigits)
            return false;
        number = 0;
        for (char c : s) {
            int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
            if (digit < 0)
                return false;
            number = number << 4 | static_cast<DWORD>(digit);
        }
        return true;
    }

    // "01,02,\" + continuation lines: the bytes of a hex value.
    std::vector<BYTE> ReadHexBytes(std::string_view list) {
        std::vector<BYTE> bytes;
        for (;;) {
            list = TrimRight(list);
            bool continues = !list.empty() && list.back() == '\\';
            if (continues)
                list.remove_suffix(1);
            size_t start = 0;
            while (start < list.size()) {
                size_t comma = list.find(',', start);
                bool last = comma == std::string_view::npos;
                std::string_view item = TrimRight(
                    TrimLeft(list.substr(start, last ? std::string_view::npos : comma - start)));
                DWORD byte = 0;
                if (item.empty() && last && continues)
                    break; // "01,\" : the bytes go on on the next line
                if (!ParseHexNumber(item, 2, byte))
                    Fail("bad hex byte \"" + std::string(item) + "\"");
                bytes.push_back(static_cast<BYTE>(byte));
                if (last)
                    break;
                start = comma + 1;
                if (start == list.size() && !continues)
                    Fail("hex list ends with a comma");
            }
            if (!continues)
                return bytes;
            std::string_view next;
            if (!NextLine(next))
                Fail("hex value continues past the end of the file");
            list = TrimLeft(next);
        }
    }

    void ReadValueLine(RegKey* key, std::string_view body) {
        if (key == nullptr)
            Fail("value line before any [key] line");
        std::string name;
        if (body[0] == '@')
            body.remove_prefix(1);
        else
            name = ReadQuoted(body);
        body = TrimLeft(body);
        if (body.empty() || body[0] != '=')
            Fail("value line without '='");
        body = TrimLeft(body.substr(1));

        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        if (!body.empty() && body[0] == '"') {
            std::string text = ReadQuoted(body);
            if (!TrimLeft(body).empty())
                Fail("text after the closing quote");
            type = REG_SZ;
            data.assign(text.begin(), text.end());
            data.push_back(0);
        } else if (body.substr(0, 6) == "dword:") {
            DWORD number = 0;
            if (!ParseHexNumber(TrimRight(body.substr(6)), 8, number))
                Fail("bad dword \"" + std::string(body.substr(6)) + "\"");
            type = REG_DWORD;
            data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                    static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
        } else if (body.substr(0, 4) == "hex:") {
            type = REG_BINARY;
            data = ReadHexBytes(body.substr(4));
        } else if (body.substr(0, 4) == "hex(") {
            size_t close = body.find("):");
            if (close == std::string_view::npos ||
                !ParseHexNumber(body.substr(4, close - 4), 8, type))
                Fail("bad value type in \"" + std::string(body) + "\"");
            data = ReadHexBytes(body.substr(close + 2));
        } else {
            Fail("unknown value data \"" + std::string(body) + "\"");
        }

        RegValue* value = key->FindValue(name);
        if (value == nullptr) {
            key->values.push_back(RegValue{std::move(name), type, std::move(data)});
        } else {
            value->type = type;
            value->data = std::move(data);
        }
    }

    std::string_view text_;
    const std::string& fileName_;
    size_t pos_ = 0;
    int lineNumber_ = 0;
};

} // namespace

std::string Registry::ToRegText() const {
    std::string out = "REGEDIT4\n\n";
    AppendKey(out, *hklm_, true);
    AppendKey(out, *hkcu_, true);
    return out;
}

Registry Registry::FromRegText(std::string_view text, const std::string& fileName) {
    return RegReader(text, fileName).Read();
}

} // namespace winemu
