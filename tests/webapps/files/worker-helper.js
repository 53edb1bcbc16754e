var greeting = "classic";
