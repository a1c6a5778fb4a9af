// Where the contact store keeps its files, all under the appliance root.
//
//   var/packages/Tessaro/var/
//     collections/                      the CardDAV server's storage folder
//       .Radicale.lock                  flock: shared to read, exclusive to write
//       collection-root/<user>/         the user's principal collection
//         contacts/                     the user's address book
//           .Radicale.props             {"D:displayname": "Contacts", "tag": "VADDRESSBOOK"}
//           <resource name>             one vCard 3.0 text per card, stored byte for byte
//     users/                            user-to-GUID map, outside the server's storage
//       by-name/<user>                  holds the user's GUID
//       by-guid/<guid>                  holds the user name
//     export/<user>/<resource name>.vcf the last export of each card
//   var/log/store.log                   one line per refused card text, with the reason
//
// Files are 0600 and folders 0700: only the appliance's user (the server runs
// as it) reads address books. Temporary files begin with '.', so the server
// never sees a half-written card.
#pragma once

#include <string>

namespace orva_store {

// The store's base folder, var/packages/Tessaro/var under the root: it may be
// a link to a data volume, but nothing below it is ever followed as one.
std::string storeBaseDir();
// The storage folder that holds collection-root and the lock file.
std::string collectionsDir();
std::string lockPath();
std::string collectionRoot();
std::string userCollectionDir(const std::string& user);
std::string bookDir(const std::string& user);
std::string usersByNameDir();
std::string usersByGuidDir();
std::string exportDir(const std::string& user);
std::string storeLogPath();

// The name of the user's address book folder and its properties file text.
extern const char* const kBookName;
extern const char* const kPropsFileName;
extern const char* const kBookProps;

// A name that may stand as one folder entry the server also accepts: not
// empty, no '/' or NUL, not beginning with '.' (so never "." or ".."), not
// ending with '~'. User names and resource names both obey it.
bool isSafeName(const std::string& name);
// A user name the store sets up: a safe name that is valid UTF-8 with no
// control character and no blank at either end. Any other name is an
// unknown user.
bool isSafeUserName(const std::string& name);
// A GUID in the form the store hands out: 36 characters, lower-case hex
// digits with '-' at 8, 13, 18 and 23.
bool isGuidText(const std::string& guid);

}  // namespace orva_store
