// The producer and the discovered cameras, loaded once per run.
#include "Tool.h"

namespace Gevtl {

const std::vector<OptionSpec>& CommonOptions() {
    static const std::vector<OptionSpec> options = {
        {"--cti", true, "the GenTL producer to load (default: GEVTLKRV.cti)"},
        {"--gentl-path", false, "load the first .cti found on GENICAM_GENTL64_PATH"},
        {"--timeout", true, "discovery wait per interface in ms (default 500)"},
        {"--help", false, "this text"},
    };
    return options;
}

const std::string& Context::Word(size_t index, const char* what) const {
    if (index >= m_arguments.Positional().size()) throw UsageError(std::string("missing ") + what);
    return m_arguments.Positional()[index];
}

GenTLLibrary& Context::Library() {
    if (!m_library) {
        m_library = std::make_unique<GenTLLibrary>(
            FindProducer(m_arguments.Value("--cti"), m_arguments.Has("--gentl-path")));
    }
    return *m_library;
}

Session& Context::Discovered() {
    if (!m_session) m_session = std::make_unique<Session>(Library());
    if (!m_discovered) {
        m_session->Discover(m_arguments.Number("--timeout", 500));
        m_discovered = true;
    }
    return *m_session;
}

}  // namespace Gevtl
