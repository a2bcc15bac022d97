// host/devhost/web_pages.h - the pages plugin-host serves itself, compiled in
// from host/devhost/web/ (cmake/KorvoEmbedText.cmake): the live page of the
// plug-in's state at / and the API reference's page at /docs, which loads
// Swagger UI's files from the web assets folder.
#pragma once

namespace Korvo::Host::Dev::Web {

extern const char kLivePage[];
extern const char kDocsPage[];

}  // namespace Korvo::Host::Dev::Web
