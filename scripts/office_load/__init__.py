"""An office's day on one appliance: users, their phones and the administrator
at once (scripts/office-load)."""
