#include "GenApiXml.h"

#include <cstring>

namespace GenTL {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameChar(char c) {
    return !IsSpace(c) && c != '>' && c != '/' && c != '=' && c != '<' && c != '"' && c != '\'';
}

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsSpace(text[begin])) ++begin;
    while (end > begin && IsSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// Appends `raw` with the predefined and numeric character references decoded;
// one that is not understood stays as written.
void AppendDecoded(const char* raw, size_t length, std::string* out) {
    static const struct {
        const char* entity;
        char value;
    } kEntities[] = {{"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"quot;", '"'}, {"apos;", '\''}};
    for (size_t i = 0; i < length; ++i) {
        if (raw[i] != '&') {
            out->push_back(raw[i]);
            continue;
        }
        const size_t left = length - i - 1;
        const char* at = raw + i + 1;
        bool done = false;
        for (const auto& e : kEntities) {
            const size_t n = std::strlen(e.entity);
            if (left >= n && std::memcmp(at, e.entity, n) == 0) {
                out->push_back(e.value);
                i += n;
                done = true;
                break;
            }
        }
        if (!done && left >= 3 && at[0] == '#') {
            const bool hex = at[1] == 'x' || at[1] == 'X';
            size_t j = hex ? 2 : 1;
            uint32_t code = 0;
            size_t digits = 0;
            for (; j < left && digits < 8; ++j, ++digits) {
                const char c = at[j];
                int d = -1;
                if (c >= '0' && c <= '9') d = c - '0';
                if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
                if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
                if (d < 0) break;
                code = code * (hex ? 16 : 10) + static_cast<uint32_t>(d);
            }
            if (digits > 0 && j < left && at[j] == ';') {
                // Formulas and names are ASCII; anything else only has to stay harmless.
                out->push_back(code < 128 ? static_cast<char>(code) : '?');
                i += j + 1;
                done = true;
            }
        }
        if (!done) out->push_back('&');
    }
}

}  // namespace

GenApiXml::GenApiXml(const std::string& xml) {
    m_valid = xml.size() <= kMaxDocument && Parse(xml);
    if (!m_valid) {
        m_elements.clear();
        m_nodes.clear();
    }
}

bool GenApiXml::Parse(const std::string& xml) {
    struct Open {
        size_t element;
        bool named;
    };
    std::vector<Open> stack;
    size_t namedOpen = 0;
    std::vector<std::string> rawText;  // per element, trimmed at the end
    const size_t n = xml.size();
    const char* s = xml.data();
    size_t i = 0;
    auto startsWith = [&](size_t at, const char* what) {
        const size_t len = std::strlen(what);
        return n - at >= len && std::memcmp(s + at, what, len) == 0;
    };
    while (i < n) {
        if (s[i] != '<') {
            const size_t next = xml.find('<', i);
            const size_t end = next == std::string::npos ? n : next;
            if (!stack.empty()) AppendDecoded(s + i, end - i, &rawText[stack.back().element]);
            i = end;
            continue;
        }
        if (startsWith(i, "<!--")) {
            const size_t end = xml.find("-->", i + 4);
            if (end == std::string::npos) return false;
            i = end + 3;
        } else if (startsWith(i, "<![CDATA[")) {
            const size_t end = xml.find("]]>", i + 9);
            if (end == std::string::npos) return false;
            if (!stack.empty()) rawText[stack.back().element].append(s + i + 9, end - i - 9);
            i = end + 3;
        } else if (startsWith(i, "<?")) {
            const size_t end = xml.find("?>", i + 2);
            if (end == std::string::npos) return false;
            i = end + 2;
        } else if (startsWith(i, "<!")) {
            const size_t end = xml.find('>', i + 2);
            if (end == std::string::npos) return false;
            i = end + 1;
        } else if (startsWith(i, "</")) {
            const size_t end = xml.find('>', i + 2);
            if (end == std::string::npos || stack.empty()) return false;
            const std::string tag = Trim(xml.substr(i + 2, end - i - 2));
            if (tag != m_elements[stack.back().element].tag) return false;
            if (stack.back().named) --namedOpen;
            stack.pop_back();
            i = end + 1;
        } else {
            // A start tag: its name, then attributes up to ">" or "/>".
            size_t j = i + 1;
            while (j < n && IsNameChar(s[j])) ++j;
            if (j == i + 1) return false;
            Element element;
            element.tag.assign(s + i + 1, j - i - 1);
            bool selfClosing = false;
            for (;;) {
                while (j < n && IsSpace(s[j])) ++j;
                if (j >= n) return false;
                if (s[j] == '>') {
                    ++j;
                    break;
                }
                if (s[j] == '/') {
                    if (j + 1 >= n || s[j + 1] != '>') return false;
                    selfClosing = true;
                    j += 2;
                    break;
                }
                const size_t nameStart = j;
                while (j < n && IsNameChar(s[j])) ++j;
                if (j == nameStart) return false;
                const std::string attribute(s + nameStart, j - nameStart);
                while (j < n && IsSpace(s[j])) ++j;
                if (j >= n || s[j] != '=') return false;
                ++j;
                while (j < n && IsSpace(s[j])) ++j;
                if (j >= n || (s[j] != '"' && s[j] != '\'')) return false;
                const size_t close = xml.find(s[j], j + 1);
                if (close == std::string::npos) return false;
                if (attribute == "Name") {
                    element.name.clear();
                    AppendDecoded(s + j + 1, close - j - 1, &element.name);
                }
                j = close + 1;
            }
            if (m_elements.size() >= kMaxElements) return false;
            const size_t index = m_elements.size();
            if (!stack.empty()) m_elements[stack.back().element].children.push_back(index);
            const bool named = !element.name.empty();
            if (named && namedOpen == 0) m_nodes.emplace(element.name, index);
            m_elements.push_back(std::move(element));
            rawText.emplace_back();
            if (!selfClosing) {
                if (stack.size() >= kMaxDepth) return false;
                stack.push_back({index, named});
                if (named) ++namedOpen;
            }
            i = j;
        }
    }
    if (!stack.empty() || m_elements.empty()) return false;
    for (size_t e = 0; e < m_elements.size(); ++e) m_elements[e].text = Trim(rawText[e]);
    return true;
}

size_t GenApiXml::Node(const std::string& name) const {
    const auto it = m_nodes.find(name);
    return it == m_nodes.end() ? kNone : it->second;
}

size_t GenApiXml::Child(size_t element, const char* tag) const {
    if (element >= m_elements.size()) return kNone;
    for (size_t child : m_elements[element].children)
        if (m_elements[child].tag == tag) return child;
    return kNone;
}

}  // namespace GenTL
