#include "app/endpoint_failure.h"

#include <system_error>

#include "res/string_table.h"

namespace quorvane {

std::string EndpointFailureText(int systemError) {
    std::string text = LoadString(IDS_SOCKETS_FAILED);
    if (systemError != 0) text.append(" ").append(std::system_category().message(systemError));
    return text;
}

}  // namespace quorvane
