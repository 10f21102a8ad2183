"""The error a module call ends with."""


class ModuleError(ValueError):
    """The module ended the call with an error.

    ``identifier`` is the module's colon-separated error identifier (for
    example ``"Ovela:axisWarp:badWeights"``), or ``""`` when the host could not
    use what the module returned; ``message`` is the module's sentence.
    """

    def __init__(self, identifier: str, message: str):
        super().__init__(identifier, message)
        self.identifier = identifier
        self.message = message

    def __str__(self) -> str:
        return f"{self.identifier}: {self.message}" if self.identifier else self.message
