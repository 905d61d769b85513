#pragma once

#include <optional>
#include <string>

namespace httplib {
struct Request;
}

namespace Dev {

struct Page
{
    std::string contentType;
    std::string body;
};

// The web pages the client links to: the site's home page, the renewal (payment) page, the two
// agreements and the customer-service chat. Nothing for any other path.
std::optional<Page> pageFor(const httplib::Request &request);

} // namespace Dev
