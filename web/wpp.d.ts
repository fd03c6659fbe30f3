/** A picture as ImageData holds it: RGBA, 4 bytes a pixel, top row first. */
export interface Picture {
  width: number;
  height: number;
  data: Uint8ClampedArray;
}

/**
 * Decodes the bytes of a WPP image. Every pixel is opaque; bytes after the
 * picture are not read.
 * @throws Error naming the reason when the bytes are not a whole WPP image.
 */
export function decode(bytes: Uint8Array | ArrayBuffer | ArrayBufferView): Picture;

/**
 * Encodes RGBA pixels (an ImageData, or anything of its shape) as a WPP
 * image: each channel's top bits; alpha is not kept.
 * @throws Error naming the reason for a size no WPP image has (each side 1
 * to 65535 pixels) or data of the wrong length.
 */
export function encode(picture: {
  width: number;
  height: number;
  data: Uint8ClampedArray | Uint8Array;
}): Uint8Array;
