// The books' and calendars' histories for the administration page. Every
// route takes "user" and, optionally, "collection" (the address book
// "contacts" unless given); a change the page makes here is kept in turn:
//   /webapi/history/trash            {}                      deleted entries
//   /webapi/history/restore          {names: [..]}           out of the trash
//   /webapi/history/versions         {name}                  an entry's versions
//   /webapi/history/restore_version  {name, index, current}  current: the version
//                                                            the page saw ("" deleted)
//   /webapi/history/changes          {}                      the kept changes
//   /webapi/history/collections      {}                      kept books and calendars,
//                                                            deleted ones too
//   /webapi/history/undo_preview     {time}                  counts and a token
//   /webapi/history/undo             {time, token}           back to time (ms)
//   /webapi/history/settings         {keep_days?, size_limit_mb?}  (no user)
#pragma once

#include <json/value.h>

#include "appliance/host/routes/appliance_routes.h"

namespace orva_host {

HttpAnswer trashRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer restoreFromTrashRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer versionsRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer restoreVersionRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer changesRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer historyCollectionsRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer undoPreviewRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer undoRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer historySettingsRoute(const RouteContext& context, const Json::Value& request);

}  // namespace orva_host
