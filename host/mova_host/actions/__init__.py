"""The command line's actions: `run` and `plan` on command streams (`stream`), the actions on
scenario files (`scenarios`), and what they share (`common`, `pictures`, `version`)."""
