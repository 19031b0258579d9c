// GenApiXml: just enough XML to look up the nodes of a camera's GenApi
// description: elements with their Name attribute, their direct text (entities
// decoded) and their children. Comments, processing instructions, declarations
// and CDATA are skipped or taken as text; no namespaces, no DTD. The text comes
// from the camera, so the document, the element count and the nesting depth are
// bounded, and a malformed text gives an empty document, never an exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace GenTL {

class GenApiXml {
public:
    static constexpr size_t kMaxDocument = 16u * 1024 * 1024;
    static constexpr size_t kMaxElements = 1u << 18;
    static constexpr size_t kMaxDepth = 64;
    static constexpr size_t kNone = static_cast<size_t>(-1);

    struct Element {
        std::string tag;
        std::string name;  // the Name attribute, empty without one
        std::string text;  // direct text content, trimmed
        std::vector<size_t> children;
    };

    // Parses `xml`; Valid() tells whether it was well enough formed.
    explicit GenApiXml(const std::string& xml);

    bool Valid() const { return m_valid; }
    size_t Size() const { return m_elements.size(); }
    const Element& At(size_t index) const { return m_elements[index]; }

    // The node named `name`: an element with that Name attribute and no named
    // ancestor (a pVariable, EnumEntry or Constant inside a node is not one).
    size_t Node(const std::string& name) const;
    // The first child of `element` with tag `tag`, or kNone.
    size_t Child(size_t element, const char* tag) const;

private:
    bool Parse(const std::string& xml);

    std::vector<Element> m_elements;
    std::unordered_map<std::string, size_t> m_nodes;
    bool m_valid = false;
};

}  // namespace GenTL
