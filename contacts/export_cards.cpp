#include "contacts/apply_to_cards.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::exportCards() {
  orva_contacts::applyToCards(request, response, dbHandler, &DBHandler::ExportData);
}
