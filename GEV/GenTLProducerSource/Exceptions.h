// The exception family that carries a GenTL error code from where a failure
// is found to the export boundary, where it becomes the returned GC_ERROR.
#pragma once

#include <exception>
#include <string>

#include "GenTL.h"

namespace GenTL {

class gentl_exception : public std::exception {
public:
    explicit gentl_exception(std::string message) : m_message(std::move(message)) {}
    gentl_exception(const gentl_exception&) = default;
    ~gentl_exception() override = default;
    const char* what() const noexcept override { return m_message.c_str(); }
    GC_ERROR GetCode() const { return code; }

protected:
    gentl_exception(std::string message, GC_ERROR c) : code(c), m_message(std::move(message)) {}

    GC_ERROR code = GC_ERR_SUCCESS;

private:
    std::string m_message;
};

#define GENTL_EXCEPTION_CLASS(name, errorCode)                                                 \
    class name : public gentl_exception {                                                      \
    public:                                                                                    \
        explicit name(std::string message) : gentl_exception(std::move(message), errorCode) {} \
        name(const name&) = default;                                                           \
    }

GENTL_EXCEPTION_CLASS(not_initialized_exception, GC_ERR_NOT_INITIALIZED);
GENTL_EXCEPTION_CLASS(implementation_exception, GC_ERR_NOT_IMPLEMENTED);
GENTL_EXCEPTION_CLASS(resource_in_use_exception, GC_ERR_RESOURCE_IN_USE);
GENTL_EXCEPTION_CLASS(access_exception, GC_ERR_ACCESS_DENIED);
GENTL_EXCEPTION_CLASS(access_denied_exception, GC_ERR_ACCESS_DENIED);
GENTL_EXCEPTION_CLASS(invalid_handle_exception, GC_ERR_INVALID_HANDLE);
GENTL_EXCEPTION_CLASS(invalid_id_exception, GC_ERR_INVALID_ID);
GENTL_EXCEPTION_CLASS(no_data_exception, GC_ERR_NO_DATA);
GENTL_EXCEPTION_CLASS(invalid_parameter_exception, GC_ERR_INVALID_PARAMETER);
GENTL_EXCEPTION_CLASS(timeout_exception, GC_ERR_TIMEOUT);
GENTL_EXCEPTION_CLASS(invalid_buffer_size_exception, GC_ERR_INVALID_BUFFER);
GENTL_EXCEPTION_CLASS(not_available_exception, GC_ERR_NOT_AVAILABLE);
GENTL_EXCEPTION_CLASS(invalid_address_exception, GC_ERR_INVALID_ADDRESS);
GENTL_EXCEPTION_CLASS(buffer_too_small_exception, GC_ERR_BUFFER_TOO_SMALL);
GENTL_EXCEPTION_CLASS(invalid_index_exception, GC_ERR_INVALID_INDEX);
GENTL_EXCEPTION_CLASS(busy_exception, GC_ERR_BUSY);
GENTL_EXCEPTION_CLASS(abort_exception, GC_ERR_ABORT);

#undef GENTL_EXCEPTION_CLASS

}  // namespace GenTL
