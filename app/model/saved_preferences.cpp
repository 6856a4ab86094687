// Placeholder until the preferences store lands.
