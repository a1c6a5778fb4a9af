#include "contacts/apply_to_cards.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::deleteCards() {
  orva_contacts::deleteCards(request, response, dbHandler);
}
