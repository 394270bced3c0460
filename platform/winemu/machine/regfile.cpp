// registry.reg: the whole registry of a machine image as REGEDIT4 text, written so that reading
// it back gives every key (empty ones too) and every value with its exact type, bytes and count.
#include "winemu/machine.h"

#include "winemu/machine/dbcs.h"

#include <cstdio>
#include <istream>

namespace winemu {

namespace {

// regedit starts a continuation line once a hex line reaches this width.
constexpr size_t kHexLineWidth = 76;

// Inside quotes, a lead byte and the byte after it are one character when that byte can be a
// second byte (0x40 and up): then a 0x5C there is no escape, and a quote or a line end is never
// taken into a character.
bool PairsAt(UINT codePage, std::string_view text, size_t i) {
    return IsLeadByte(codePage, static_cast<unsigned char>(text[i])) && i + 1 < text.size() &&
           static_cast<unsigned char>(text[i + 1]) >= 0x40;
}

// Collects the text and hands it to the sink a piece at a time.
class RegWriter {
  public:
    RegWriter(UINT codePage, const std::function<void(std::string_view)>& sink)
        : codePage_(codePage), sink_(sink) {}
    ~RegWriter() = default;

    void Append(std::string_view text) {
        buffer_ += text;
        if (buffer_.size() >= kPiece)
            Flush();
    }
    void Append(char c) { buffer_ += c; }
    void Flush() {
        if (!buffer_.empty())
            sink_(buffer_);
        buffer_.clear();
    }

    // A double-byte character is copied whole: its second byte may be 0x5C and is no escape.
    void AppendEscaped(std::string_view text) {
        for (size_t i = 0; i < text.size(); ++i) {
            char c = text[i];
            if (PairsAt(codePage_, text, i)) {
                buffer_ += c;
                buffer_ += text[++i];
                continue;
            }
            switch (c) {
            case '\\':
                buffer_ += "\\\\";
                break;
            case '"':
                buffer_ += "\\\"";
                break;
            case '\n': // only value names get here; text data with line ends goes out as hex
                buffer_ += "\\n";
                break;
            case '\r':
                buffer_ += "\\r";
                break;
            default:
                buffer_ += c;
            }
        }
    }

    // The line began at lineStart in the buffer, with the value's name.
    void AppendHex(size_t lineStart, std::string_view type, const std::vector<BYTE>& data) {
        static const char kDigits[] = "0123456789abcdef";
        buffer_ += type;
        size_t lineLength = buffer_.size() - lineStart;
        for (size_t i = 0; i < data.size(); ++i) {
            buffer_ += kDigits[data[i] >> 4];
            buffer_ += kDigits[data[i] & 15];
            lineLength += 2;
            if (i + 1 < data.size()) {
                buffer_ += ',';
                if (++lineLength >= kHexLineWidth) {
                    buffer_ += "\\\n  ";
                    lineLength = 2;
                }
            }
        }
        buffer_ += '\n';
    }

    void AppendValue(const RegValue& value) {
        size_t lineStart = buffer_.size();
        if (value.name.empty()) {
            buffer_ += "@=";
        } else {
            buffer_ += '"';
            AppendEscaped(value.name);
            buffer_ += "\"=";
        }
        if (value.type == REG_SZ && IsPlainString(codePage_, value.data)) {
            std::string_view text(reinterpret_cast<const char*>(value.data.data()),
                                  value.data.size() - 1);
            buffer_ += '"';
            AppendEscaped(text);
            buffer_ += "\"\n";
        } else if (value.type == REG_DWORD && value.data.size() == 4) {
            DWORD d = static_cast<DWORD>(value.data[0]) | static_cast<DWORD>(value.data[1]) << 8 |
                      static_cast<DWORD>(value.data[2]) << 16 |
                      static_cast<DWORD>(value.data[3]) << 24;
            char number[16];
            std::snprintf(number, sizeof number, "%08x", static_cast<unsigned>(d));
            buffer_ += "dword:";
            buffer_ += number;
            buffer_ += '\n';
        } else if (value.type == REG_BINARY) {
            AppendHex(lineStart, "hex:", value.data);
        } else {
            char type[24];
            std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
            AppendHex(lineStart, type, value.data);
        }
        if (buffer_.size() >= kPiece)
            Flush();
    }

    // Every key below root, parents before children and siblings in enumeration order; a root
    // is implied by its subkeys and gets a section of its own only for its values. Walked
    // without recursion, so that no depth of keys can exhaust the stack.
    void AppendTree(const RegKey& root) {
        struct Level {
            const RegKey* key;
            std::map<std::string, std::shared_ptr<RegKey>, NameLess>::const_iterator next;
            size_t pathLength;
        };
        std::string path = root.name;
        std::vector<Level> levels;
        AppendSection(root, path, true);
        levels.push_back({&root, root.subkeys.begin(), path.size()});
        while (!levels.empty()) {
            Level& level = levels.back();
            if (level.next == level.key->subkeys.end()) {
                levels.pop_back();
                continue;
            }
            const RegKey& child = *(level.next++)->second;
            path.resize(level.pathLength);
            path += '\\';
            path += child.name;
            AppendSection(child, path, false);
            levels.push_back({&child, child.subkeys.begin(), path.size()});
        }
    }

  private:
    static constexpr size_t kPiece = 64 * 1024;

    // A REG_SZ that is plain text followed by exactly one zero, which a quoted string gives back.
    // A lead byte that stands alone would take the escape or quote after it when read back.
    static bool IsPlainString(UINT codePage, const std::vector<BYTE>& data) {
        if (data.empty() || data.back() != 0)
            return false;
        std::string_view text(reinterpret_cast<const char*>(data.data()), data.size() - 1);
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == 0 || text[i] == '\n' || text[i] == '\r')
                return false;
            if (IsLeadByte(codePage, static_cast<unsigned char>(text[i]))) {
                if (!PairsAt(codePage, text, i))
                    return false;
                ++i;
            }
        }
        return true;
    }

    void AppendSection(const RegKey& key, std::string_view path, bool isRoot) {
        if (isRoot && key.values.empty())
            return;
        buffer_ += '[';
        Append(path);
        buffer_ += "]\n";
        for (const RegValue& value : key.values)
            AppendValue(value);
        buffer_ += '\n';
    }

    UINT codePage_;
    const std::function<void(std::string_view)>& sink_;
    std::string buffer_;
};

// ---------------------------------------------------------------------------------------------
// Reading

class RegReader {
  public:
    RegReader(std::string_view text, const std::string& fileName, UINT codePage)
        : text_(text), fileName_(fileName), codePage_(codePage) {}
    // A file read a line at a time, so that a large registry is never held whole as text.
    RegReader(std::istream& in, const std::string& fileName, UINT codePage)
        : in_(&in), fileName_(fileName), codePage_(codePage) {}

    Registry Read() {
        Registry registry;
        registry.SetCodePage(codePage_);
        std::string_view header;
        bool any = NextLine(header);
        if (header.substr(0, 3) == "\xEF\xBB\xBF")
            header.remove_prefix(3);
        if (!any || TrimRight(header) != "REGEDIT4")
            Fail("the first line is not REGEDIT4");
        RegKey* key = nullptr;
        std::string_view line;
        while (NextLine(line)) {
            std::string_view body = TrimLeft(line);
            if (body.empty() || body[0] == ';')
                continue;
            if (body[0] == '[') {
                if (key != nullptr)
                    key->values.shrink_to_fit();
                key = &ReadKeyLine(registry, TrimRight(body));
            } else if (body[0] == '"' || body[0] == '@')
                ReadValueLine(key, body);
            else
                Fail("neither a [key] nor a value line");
        }
        if (key != nullptr)
            key->values.shrink_to_fit();
        if (in_ != nullptr && in_->bad())
            throw BootError(fileName_, 0, "cannot be read");
        return registry;
    }

  private:
    [[noreturn]] void Fail(const std::string& message) const {
        throw BootError(fileName_, lineNumber_, message);
    }

    // The next physical line without its line end (LF or CRLF); false at the end of the text.
    bool NextLine(std::string_view& line) {
        if (in_ != nullptr) {
            if (!std::getline(*in_, lineBuffer_))
                return false;
            line = lineBuffer_;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            ++lineNumber_;
            return true;
        }
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
        size_t slash = FindSeparator(codePage_, path, 0);
        std::string_view root = path.substr(0, slash);
        if (!NameEquals(root, "HKEY_LOCAL_MACHINE") && !NameEquals(root, "HKEY_CURRENT_USER") &&
            !NameEquals(root, "HKEY_USERS"))
            Fail("unknown root key \"" + std::string(root) + "\"");
        size_t depth = 0;
        for (size_t start = slash + 1; start < path.size();) {
            size_t end = FindSeparator(codePage_, path, start);
            std::string_view name = path.substr(start, end - start);
            bool trailing = end + 1 == path.size(); // as the registry functions allow
            if (name.empty())
                Fail("empty key name in \"" + std::string(path) + "\"");
            if (CharCount(codePage_, name) > kMaxKeyNameChars)
                Fail("a key name is longer than " + std::to_string(kMaxKeyNameChars) +
                     " characters");
            if (++depth > kMaxKeyDepth)
                Fail("the key is more than " + std::to_string(kMaxKeyDepth) + " levels deep");
            start = trailing ? path.size() : end + 1;
        }
        return registry.Create(path);
    }

    // A quoted string starting at s[0] == '"'; s is left after the closing quote.
    std::string ReadQuoted(std::string_view& s) {
        std::string out;
        size_t i = 1;
        for (; i < s.size() && s[i] != '"'; ++i) {
            if (PairsAt(codePage_, s, i)) {
                out += s[i];
                out += s[++i];
                continue;
            }
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
        if (CharCount(codePage_, name) > kMaxValueNameChars)
            Fail("a value name is longer than " + std::to_string(kMaxValueNameChars) +
                 " characters");
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
    std::istream* in_ = nullptr;
    std::string lineBuffer_;
    const std::string& fileName_;
    UINT codePage_;
    size_t pos_ = 0;
    int lineNumber_ = 0;
};

} // namespace

void Registry::WriteRegText(const std::function<void(std::string_view)>& sink) const {
    RegWriter writer(codePage_, sink);
    writer.Append("REGEDIT4\n\n");
    writer.AppendTree(*hklm_);
    writer.AppendTree(*hkcu_);
    if (!hku_->subkeys.empty() || !hku_->values.empty())
        writer.AppendTree(*hku_); // most machines' files name no other user
    writer.Flush();
}

std::string Registry::ToRegText() const {
    std::string out;
    WriteRegText([&out](std::string_view piece) { out += piece; });
    return out;
}

Registry Registry::FromRegText(std::string_view text, const std::string& fileName, UINT codePage) {
    return RegReader(text, fileName, codePage).Read();
}

Registry Registry::FromRegStream(std::istream& in, const std::string& fileName, UINT codePage) {
    return RegReader(in, fileName, codePage).Read();
}

} // namespace winemu
