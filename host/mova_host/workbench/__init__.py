"""The workbench: a local web page to design a network, plan a mission and watch it.

Layers, bottom up: `fields` (a request's fields, refused in words), `transcript` (the commands
sent and their answers), `model` (what the person edits), `link` (the session's controller),
`session` (a browser session: the model driven on its controller), `view` (the JSON the page
draws), `registry` (the sessions of a server), `http` and `routes` (the HTTP side), `server`
(`mova-host serve`).
"""
