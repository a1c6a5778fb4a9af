#include "contacts/apply_to_cards.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::deleteCards() {
  orva_contacts::applyToCards(request, response, dbHandler, &DBHandler::DelCard);
}
