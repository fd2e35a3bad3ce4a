// XML of the relay's export and import files; see relay_xml.h.
#include "relay_xml.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "vnl_utf8.h"

namespace relay {
namespace {

constexpr size_t kMaxAttributes = 16;  // an entry has 12 at most
constexpr size_t kMaxShownName = 40;   // of a name quoted in an error

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsXmlCharacter(uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

bool IsNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool IsNameCharacter(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

bool EqualsIgnoringAsciiCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The length of the valid UTF-8 sequence at `at` (no overlongs, surrogates or values past U+10FFFF);
// 0 when there is none.
size_t Utf8SequenceLength(const std::string& text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    size_t count = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        count = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 2;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 3;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (size_t k = 1; k <= count; ++k) {
        if (at + k >= text.size()) return 0;
        const auto byte = static_cast<unsigned char>(text[at + k]);
        if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF)) return 0;
    }
    return count + 1;
}

// Reads one backup in a single pass with an explicit stack of open elements, which the format bounds to
// three (backup, contact, field or entry): no recursion, and anything deeper is refused where it opens.

}  // namespace

void AppendXmlEscaped(std::string& out, const std::wstring& text, bool attribute) {
    const std::string utf8 = vnl::Utf8FromWide(text);  // lone surrogates are U+FFFD already
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c == 0xEF && i + 2 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0xBF &&
            static_cast<unsigned char>(utf8[i + 2]) >= 0xBE) {
            i += 2;
            continue;
        }
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\r': out += "&#13;"; break;
        case '"': out += attribute ? "&quot;" : "\""; break;
        case '\'': out += attribute ? "&apos;" : "'"; break;
        case '\t': out += attribute ? "&#9;" : "\t"; break;
        case '\n': out += attribute ? "&#10;" : "\n"; break;
        default:
            if (c >= 0x20) out += static_cast<char>(c);
            break;
        }
    }
}

std::string ShownXmlName(const std::string& name) {
    return name.size() <= kMaxShownName ? name : name.substr(0, kMaxShownName) + "...";
}

bool XmlReader::Read(const std::string& text, std::size_t limitBytes, std::string& error) {
    m_text = &text;
    if (!ReadDocument(limitBytes)) {
        error = m_error;
        if (m_errorAt != std::string::npos) {
            size_t line = 1;
            for (size_t i = 0; i < m_errorAt && i < text.size(); ++i) line += text[i] == '\n' ? 1 : 0;
            error += " (line " + std::to_string(line) + ")";
        }
        return false;
    }
    return true;
}

bool XmlReader::Fail(std::string reason) {
    m_error = std::move(reason);
    m_errorAt = m_pos;
    return false;
}

bool XmlReader::At(size_t at, const char* prefix) const {
    return at <= m_text->size() && m_text->compare(at, std::strlen(prefix), prefix) == 0;
}

void XmlReader::SkipSpace(size_t& at) const {
    while (at < m_text->size() && IsXmlSpace((*m_text)[at])) ++at;
}

bool XmlReader::ReadName(size_t& at, std::string& name) const {
    const size_t start = at;
    if (at >= m_text->size() || !IsNameStart((*m_text)[at])) return false;
    while (at < m_text->size() && IsNameCharacter((*m_text)[at])) ++at;
    name.assign(*m_text, start, at - start);
    return true;
}

bool XmlReader::ReadDocument(std::size_t limitBytes) {
    if (m_text->size() > limitBytes) {
        return FailWhole("the file is larger than " + std::to_string(limitBytes / (1024 * 1024)) + " MiB");
    }
    if (m_text->empty()) return FailWhole("the file is empty");
    if (At(0, "\xEF\xBB\xBF")) m_pos = 3;
    if (!CheckCharacters()) return false;
    if (At(m_pos, "<?xml") && m_pos + 5 < m_text->size() && IsXmlSpace((*m_text)[m_pos + 5]) && !ReadDeclaration()) {
        return false;
    }
    while (m_pos < m_text->size()) {
        bool read = false;
        if ((*m_text)[m_pos] != '<') {
            read = ReadText();
        } else if (At(m_pos, "<!--")) {
            read = SkipComment();
        } else if (At(m_pos, "<!DOCTYPE")) {
            return Fail("document type declarations are not accepted");
        } else if (At(m_pos, "<!")) {
            return Fail("unexpected markup");
        } else if (At(m_pos, "<?")) {
            read = SkipProcessingInstruction();
        } else if (At(m_pos, "</")) {
            read = ReadEndTag();
        } else {
            read = ReadStartTag();
        }
        if (!read) return false;
    }
    if (!m_open.empty()) return Fail("the file ends inside <" + m_open.back() + ">");
    if (!m_rootSeen) return Fail(std::string("the file holds no ") + DocumentKind());
    return true;
}

bool XmlReader::FailWhole(std::string reason) {
    m_error = std::move(reason);
    return false;
}

// Valid UTF-8 of characters XML allows, so that the rest can take the text as it is.
bool XmlReader::CheckCharacters() {
    for (size_t at = m_pos; at < m_text->size();) {
        const auto c = static_cast<unsigned char>((*m_text)[at]);
        const size_t length = Utf8SequenceLength(*m_text, at);
        const bool forbidden = (c < 0x20 && !IsXmlSpace(static_cast<char>(c))) ||
                               (length == 3 && c == 0xEF && static_cast<unsigned char>((*m_text)[at + 1]) == 0xBF &&
                                static_cast<unsigned char>((*m_text)[at + 2]) >= 0xBE);
        if (length == 0 || forbidden) {
            m_pos = at;
            return Fail(length == 0 ? "the file is not UTF-8 text" : "the file holds a character XML does not allow");
        }
        at += length;
    }
    return true;
}

// Name="value" pairs up to the first '>', '/' or '?' (which the caller checks); values decoded.
bool XmlReader::ReadAttributes(size_t& at, XmlAttributes& attributes) {
    for (;;) {
        const size_t before = at;
        SkipSpace(at);
        if (at >= m_text->size()) return Fail("the file ends inside a tag");
        const char c = (*m_text)[at];
        if (c == '>' || c == '/' || c == '?') return true;
        std::string name;
        if (at == before || !ReadName(at, name)) return Fail("malformed tag");
        SkipSpace(at);
        if (at >= m_text->size() || (*m_text)[at] != '=') return Fail("malformed attribute " + ShownXmlName(name));
        ++at;
        SkipSpace(at);
        if (at >= m_text->size() || ((*m_text)[at] != '"' && (*m_text)[at] != '\'')) {
            return Fail("malformed attribute " + ShownXmlName(name));
        }
        const size_t end = m_text->find((*m_text)[at], at + 1);
        if (end == std::string::npos) return Fail("the file ends inside a tag");
        for (const auto& attribute : attributes) {
            if (attribute.first == name) return Fail("attribute " + ShownXmlName(name) + " repeated");
        }
        if (attributes.size() == kMaxAttributes) return Fail("too many attributes");
        std::string value;
        if (!Decode(at + 1, end, true, value)) return false;
        attributes.emplace_back(std::move(name), std::move(value));
        at = end + 1;
    }
}

bool XmlReader::ReadDeclaration() {
    size_t at = m_pos + 5;
    XmlAttributes attributes;
    if (!ReadAttributes(at, attributes)) return false;
    if (!At(at, "?>")) return Fail("malformed XML declaration");
    bool versioned = false;
    for (const auto& attribute : attributes) {
        if (attribute.first == "version") {
            versioned = attribute.second.compare(0, 2, "1.") == 0;
            if (!versioned) return Fail("unsupported XML version " + ShownXmlName(attribute.second));
        } else if (attribute.first == "encoding") {
            if (!EqualsIgnoringAsciiCase(attribute.second, "UTF-8")) {
                return Fail("unsupported encoding " + ShownXmlName(attribute.second));
            }
        } else if (attribute.first != "standalone") {
            return Fail("malformed XML declaration");
        }
    }
    if (!versioned) return Fail("malformed XML declaration");
    m_pos = at + 2;
    return true;
}

bool XmlReader::SkipComment() {
    const size_t dashes = m_text->find("--", m_pos + 4);
    if (dashes == std::string::npos || dashes + 2 >= m_text->size()) return Fail("unclosed comment");
    if ((*m_text)[dashes + 2] != '>') return Fail("\"--\" inside a comment");
    m_pos = dashes + 3;
    return true;
}

bool XmlReader::SkipProcessingInstruction() {
    size_t at = m_pos + 2;
    std::string target;
    if (!ReadName(at, target)) return Fail("malformed processing instruction");
    if (EqualsIgnoringAsciiCase(target, "xml")) return Fail("the XML declaration is not at the start");
    const size_t end = m_text->find("?>", at);
    if (end == std::string::npos) return Fail("unclosed processing instruction");
    m_pos = end + 2;
    return true;
}

bool XmlReader::ReadText() {
    size_t end = m_text->find('<', m_pos);
    if (end == std::string::npos) end = m_text->size();
    if (std::string* target = TextTarget()) {
        if (!Decode(m_pos, end, false, *target)) return false;
    } else {
        for (size_t at = m_pos; at < end; ++at) {
            if (IsXmlSpace((*m_text)[at])) continue;
            if (m_open.empty()) return Fail(m_rootSeen ? "text after the root element" : "not an XML document");
            return Fail("unexpected text in <" + m_open.back() + ">");
        }
    }
    m_pos = end;
    return true;
}

// Character data or an attribute value between `begin` and `end` into UTF-8: references decoded,
// line breaks normalised as XML reads them (and whitespace in attribute values made spaces).
bool XmlReader::Decode(size_t begin, size_t end, bool attribute, std::string& out) {
    for (size_t at = begin; at < end;) {
        const char c = (*m_text)[at];
        if (c == '&') {
            if (!DecodeReference(at, end, out)) return false;
            continue;
        }
        if (c == '<') {
            m_pos = at;
            return Fail("'<' inside an attribute value");
        }
        if (c == '\r') {
            out += attribute ? ' ' : '\n';
            at += at + 1 < end && (*m_text)[at + 1] == '\n' ? 2 : 1;
            continue;
        }
        out += attribute && (c == '\n' || c == '\t') ? ' ' : c;
        ++at;
    }
    return true;
}

bool XmlReader::DecodeReference(size_t& at, size_t end, std::string& out) {
    m_pos = at;
    size_t i = at + 1;
    std::string name;
    if (i < end && (*m_text)[i] == '#') {
        const bool hex = i + 1 < end && (*m_text)[i + 1] == 'x';
        i += hex ? 2 : 1;
        uint32_t value = 0;
        const size_t digits = i;
        for (; i < end; ++i) {
            const char d = (*m_text)[i];
            int digit = -1;
            if (d >= '0' && d <= '9') digit = d - '0';
            if (hex && d >= 'a' && d <= 'f') digit = d - 'a' + 10;
            if (hex && d >= 'A' && d <= 'F') digit = d - 'A' + 10;
            if (digit < 0) break;
            value = value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
            if (value > 0x10FFFF) value = 0x110000;  // stays out of range, never overflows
        }
        if (i == digits || i >= end || (*m_text)[i] != ';' || !IsXmlCharacter(value)) {
            return Fail("invalid character reference");
        }
        std::wstring wide;
        if constexpr (sizeof(wchar_t) == 2) {
            if (value >= 0x10000) {
                wide += static_cast<wchar_t>(0xD800 + ((value - 0x10000) >> 10));
                wide += static_cast<wchar_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
            }
        }
        if (wide.empty()) wide += static_cast<wchar_t>(value);
        out += vnl::Utf8FromWide(wide);
        at = i + 1;
        return true;
    }
    if (!ReadName(i, name) || i >= end || (*m_text)[i] != ';') return Fail("'&' that starts no reference");
    if (name == "lt") {
        out += '<';
    } else if (name == "gt") {
        out += '>';
    } else if (name == "amp") {
        out += '&';
    } else if (name == "quot") {
        out += '"';
    } else if (name == "apos") {
        out += '\'';
    } else {
        return Fail("undefined entity &" + ShownXmlName(name) + ";");
    }
    at = i + 1;
    return true;
}

bool XmlReader::ReadStartTag() {
    size_t at = m_pos + 1;
    std::string name;
    if (!ReadName(at, name)) return Fail("malformed tag");
    XmlAttributes attributes;
    if (!ReadAttributes(at, attributes)) return false;
    const bool empty = At(at, "/>");
    if (!empty && (*m_text)[at] != '>') return Fail("malformed tag <" + ShownXmlName(name) + ">");
    m_pos = at;  // errors below point at the tag's end
    if (!OpenElement(name, attributes)) return false;
    m_pos = at + (empty ? 2 : 1);
    return !empty || CloseElement();
}

bool XmlReader::ReadEndTag() {
    size_t at = m_pos + 2;
    std::string name;
    if (!ReadName(at, name)) return Fail("malformed closing tag");
    SkipSpace(at);
    if (at >= m_text->size() || (*m_text)[at] != '>')
        return Fail("malformed closing tag </" + ShownXmlName(name) + ">");
    if (m_open.empty()) return Fail("</" + ShownXmlName(name) + "> closes nothing");
    if (m_open.back() != name) return Fail("</" + ShownXmlName(name) + "> does not close <" + m_open.back() + ">");
    m_pos = at + 1;
    return CloseElement();
}

bool XmlReader::OpenElement(const std::string& name, const XmlAttributes& attributes) {
    if (m_open.empty() && m_rootSeen) return Fail("a second root element <" + ShownXmlName(name) + ">");
    if (!OnOpen(name, attributes)) return false;
    m_rootSeen = true;
    m_open.push_back(name);
    return true;
}

bool XmlReader::CloseElement() {
    OnClose();
    m_open.pop_back();
    return true;
}

}  // namespace relay
