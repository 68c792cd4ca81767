"""Dral: fast, checksummed binary serialisation of JSON-like data."""

from typing import TYPE_CHECKING

from . import _dral_native
from ._dral_native import *  # noqa: F401,F403

if TYPE_CHECKING:
    # Names that exist only for type checkers: the typed dictionaries and literal types.
    from ._dral_native import (  # noqa: F401
        Compression as Compression,
        DralKind as DralKind,
        RfcAnnotationDict as RfcAnnotationDict,
        RfcAssociationDict as RfcAssociationDict,
        RfcBindingDict as RfcBindingDict,
        RfcBindingReferenceDict as RfcBindingReferenceDict,
        RfcBlobDataDict as RfcBlobDataDict,
        RfcBoolScalarDict as RfcBoolScalarDict,
        RfcByIdReferenceDict as RfcByIdReferenceDict,
        RfcBytesScalarDict as RfcBytesScalarDict,
        RfcDecodedCbfDict as RfcDecodedCbfDict,
        RfcDocumentDict as RfcDocumentDict,
        RfcFieldDict as RfcFieldDict,
        RfcFloatDataDict as RfcFloatDataDict,
        RfcFloatScalarDict as RfcFloatScalarDict,
        RfcHeaderDict as RfcHeaderDict,
        RfcIntDataDict as RfcIntDataDict,
        RfcIntScalarDict as RfcIntScalarDict,
        RfcNoneScalarDict as RfcNoneScalarDict,
        RfcOpaqueDict as RfcOpaqueDict,
        RfcProductDict as RfcProductDict,
        RfcScalarDict as RfcScalarDict,
        RfcScalarType as RfcScalarType,
        RfcSequenceDict as RfcSequenceDict,
        RfcStreamDict as RfcStreamDict,
        RfcStructPayloadDict as RfcStructPayloadDict,
        RfcSumDict as RfcSumDict,
        RfcTaggedScalarDict as RfcTaggedScalarDict,
        RfcTensorDict as RfcTensorDict,
        RfcTextScalarDict as RfcTextScalarDict,
        RfcTuplePayloadDict as RfcTuplePayloadDict,
        RfcUnitPayloadDict as RfcUnitPayloadDict,
        RfcValueDict as RfcValueDict,
        RfcValueKind as RfcValueKind,
        Scalar as Scalar,
    )

__all__ = list(_dral_native.__all__)
__doc__ = _dral_native.__doc__
